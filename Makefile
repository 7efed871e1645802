# make test: installs what is missing, configures, builds and runs every test.
BUILD ?= build
JOBS ?= 2

.PHONY: test build configure bootstrap clean

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

configure: bootstrap
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release

bootstrap:
	scripts/bootstrap

clean:
	rm -rf $(BUILD)

# make demo: builds everything, then installs and uninstalls the example screensaver under Wine.
.PHONY: demo
demo: build
	scripts/demo $(BUILD)
