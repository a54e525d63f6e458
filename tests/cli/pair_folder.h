// Test fixture: a scratch folder per test holding the photo and strokes pair photo.png and
// photo-strokes.png (48 x 36) and an empty output folder out/.
#pragma once

#include "test_pictures.h"

#include <QDir>
#include <QString>
#include <QTemporaryDir>

#include <gtest/gtest.h>

class PairFolder : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(QDir(dir.path()).mkdir("out"));
        ASSERT_TRUE(write_test_pair(dir.path(), "photo", 48, 36, 7));
        image = dir.filePath("photo.png");
        strokes = dir.filePath("photo-strokes.png");
        out = dir.filePath("out");
    }

    QTemporaryDir dir;
    QString image;
    QString strokes;
    QString out;
};
