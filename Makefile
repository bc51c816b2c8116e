# make test: install what is missing, build, run every test through CTest.
# make run (or make demo): install what is missing, build, start the client with a
#            private ssh server on this computer and the profile "This computer" for it.
# make deb: install what is missing, build the programs, make the Debian packages
#           nuvek and nuvek-server in build/packages.
# make translations: bring src/resources/translations/*.ts up to date with the code's texts.
BUILD ?= build
JOBS ?= $(shell nproc)

.PHONY: all deps build run test demo deb translations clean

all: build

deps:
	@scripts/install-deps

build: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

run: demo

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

demo: build
	@scripts/demo $(BUILD)

deb: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build $(BUILD) -j $(JOBS) --target deb

translations: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build $(BUILD) --target update-translations

clean:
	rm -rf $(BUILD)
