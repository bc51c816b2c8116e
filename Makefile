# make run: install what is missing, build, start the client.
# make test: install what is missing, build, run every test through CTest.
# make demo: install what is missing, build, start the client with a private ssh
#            server on this computer and the profile "This computer" for it.
BUILD ?= build
JOBS ?= $(shell nproc)

.PHONY: all deps build run test demo clean

all: build

deps:
	@scripts/install-deps

build: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

run: build
	$(BUILD)/bin/nuvek

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

demo: build
	@scripts/demo $(BUILD)

clean:
	rm -rf $(BUILD)
