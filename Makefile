# make          build the library, the Java classes and the tests
# make test     every test: C++ unit tests and the JUnit tests, both again under ASan+UBSan, a smoke
#               run of the fuzz target, and javadoc with doclint on
# make demo     build, then run the Java example with only the jar (build/engine-native.jar)
# make javadoc  the API documentation of the host classes and the typed layer, doclint on, into build/javadoc
# make fuzz     run the fuzz target for FUZZ_SECONDS (default 60) over its corpus (clang, libFuzzer)
# make bench    build, then the benchmark table against the peer library (REPS=5 runs a line;
#               BENCH_ARGS="--only queens,closure" picks workloads), then the microbenchmarks
BUILD      ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_TARGETS := stream
JAVA_HOME_17 := /usr/lib/jvm/java-17-openjdk-amd64
JAVA       := $(JAVA_HOME_17)/bin/java
REPS       ?= 5
BENCH_ARGS ?=
CMAKE_ARGS := -G Ninja -DENGINE_JAVA_HOME=$(JAVA_HOME_17)

.PHONY: all build deps javadoc test test-asan test-fuzz fuzz-build fuzz demo bench clean

all: build

deps:
	@scripts/ensure-deps.sh core

build: deps
	@test -f $(BUILD)/build.ninja || cmake -S . -B $(BUILD) $(CMAKE_ARGS) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	@cmake --build $(BUILD)

test: build test-asan test-fuzz
	@ctest --test-dir $(BUILD) --output-on-failure

test-asan: deps
	@test -f $(ASAN_BUILD)/build.ninja || cmake -S . -B $(ASAN_BUILD) $(CMAKE_ARGS) -DCMAKE_BUILD_TYPE=Debug -DENGINE_SANITIZE=ON
	@cmake --build $(ASAN_BUILD)
	@ctest --test-dir $(ASAN_BUILD) --output-on-failure

# The fuzz target builds with clang in its own tree; the smoke test runs a few thousand inputs.
fuzz-build: deps
	@scripts/ensure-deps.sh fuzz
	@test -f $(FUZZ_BUILD)/build.ninja || CC=clang-14 CXX=clang++-14 cmake -S . -B $(FUZZ_BUILD) $(CMAKE_ARGS) \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DENGINE_FUZZ=ON
	@cmake --build $(FUZZ_BUILD)

test-fuzz: fuzz-build
	@ctest --test-dir $(FUZZ_BUILD) --output-on-failure

fuzz: fuzz-build
	@for t in $(FUZZ_TARGETS); do \
	  fuzz/run-fuzzer.sh $(FUZZ_BUILD)/fuzz/fuzz_$$t $$t $(FUZZ_BUILD) -max_total_time=$(FUZZ_SECONDS) || exit 1; done

demo: build
	@mkdir -p $(BUILD)/demo
	@$(JAVA) -cp $(BUILD)/engine-native.jar:$(BUILD)/java/example-classes \
	  com.zvk.quarnelbrisk.example.Demo --picture $(BUILD)/demo/dependencies.dot $(ARGS)

javadoc: deps
	@rm -rf $(BUILD)/javadoc
	@$(JAVA_HOME_17)/bin/javadoc -Xdoclint:all -Werror -quiet -d $(BUILD)/javadoc -sourcepath java/src \
	  -subpackages com.zvk.quarnelbrisk && echo "javadoc: $(BUILD)/javadoc/index.html"

BENCH_CP := $(BUILD)/java/classes:$(BUILD)/java/example-classes:$(BUILD)/java/bench-classes
bench:
	@scripts/ensure-deps.sh core bench
	@test -f $(BUILD)/build.ninja || cmake -S . -B $(BUILD) $(CMAKE_ARGS) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	@cmake -S . -B $(BUILD) -DENGINE_BENCH=ON -DENGINE_MICRO=ON >/dev/null
	@cmake --build $(BUILD)
	@test -x $(BUILD)/bench/peer_bench || { echo "bench: the peer was not built (libbdd-dev)" >&2; exit 1; }
	@$(JAVA) -cp $(BENCH_CP) com.zvk.quarnelbrisk.bench.BenchDriver --java $(JAVA) --classpath $(BENCH_CP) \
	  --lib $(BUILD)/lib --probe-lib $(BUILD)/bench/probe --peer $(BUILD)/bench/peer_bench \
	  --reps $(REPS) --markdown $(BUILD)/bench/latest.md $(BENCH_ARGS)
	@echo "== microbenchmarks (engine_workloads: $(BUILD)/bench/micro/engine_workloads, for profiling)"
	@$(BUILD)/bench/micro/engine_micro

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD)
