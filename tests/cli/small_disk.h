// A small tmpfs mounted on a folder for one test, to meet a full disk for real. Mounting needs
// root (CI runs as root); elsewhere mounted() is false and the test skips.
#pragma once

#include <fstream>
#include <string>
#include <vector>

#include <sys/mount.h>
#include <sys/stat.h>

class SmallDisk
{
public:
    SmallDisk(const std::string &folder, int kib)
        : path(folder)
    {
        ::mkdir(path.c_str(), 0755);
        const std::string size = "size=" + std::to_string(kib) + "k";
        is_mounted = ::mount("tmpfs", path.c_str(), "tmpfs", 0, size.c_str()) == 0;
    }
    SmallDisk(const SmallDisk &) = delete;
    SmallDisk &operator=(const SmallDisk &) = delete;
    ~SmallDisk()
    {
        if (is_mounted)
            ::umount2(path.c_str(), MNT_DETACH);
    }
    bool mounted() const { return is_mounted; }

    // Takes every free block with a filler file, so that the next write meets ENOSPC.
    void fill() const
    {
        std::ofstream filler(path + "/filler", std::ios::binary);
        const std::vector<char> block(4096, 'x');
        while (filler.write(block.data(), static_cast<std::streamsize>(block.size())))
            filler.flush();
    }

private:
    std::string path;
    bool is_mounted = false;
};
