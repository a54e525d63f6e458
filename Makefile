# Entry points for people; CMake presets do the real work.
#   make run    install what is missing, build, start the window
#   make test   install what is missing, build, run every test
#   make bench  release build of the benchmark suite with its peer libraries, then the peer
#               comparison, whose table lands in bench/README.md (BENCH_ARGS adds flags)
.PHONY: run test deps bench asan format clean

deps:
	@scripts/install-deps.sh

run: deps
	cmake --preset dev
	cmake --build --preset dev --target vellacut
	scripts/run-window.sh build/dev/app/vellacut $(ARGS)

test: deps
	cmake --preset dev
	cmake --build --preset dev
	ctest --preset dev

asan: deps
	cmake --preset asan
	cmake --build --preset asan
	ctest --preset asan

bench: deps
	@scripts/install-deps.sh --bench
	cmake --preset release
	cmake --build --preset release
	@echo "benchmarks built under build/release/bench"
	scripts/bench-peers.sh $(BENCH_ARGS)

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build
