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

# make fuzz: the libFuzzer targets (clang, ASan, UBSan) in their own build,
# each run for FUZZ_SECONDS; new findings land in $(FUZZ_BUILD)/fuzz-work.
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60

.PHONY: fuzz
fuzz: bootstrap
	cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
	  -DLUMAVEIL_FUZZ=ON -DLUMAVEIL_WIN32=OFF -DLUMAVEIL_FUZZ_SECONDS=$(FUZZ_SECONDS)
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzz_targets
	ctest --test-dir $(FUZZ_BUILD) -L fuzz -j $(JOBS) --output-on-failure; status=$$?; \
	  awk '/^[0-9]+\/[0-9]+ Test: fuzz\./ { name = $$3 } /^stat::number_of_executed_units/ { print name ": " $$2 " runs" }' \
	    $(FUZZ_BUILD)/Testing/Temporary/LastTest.log; exit $$status
