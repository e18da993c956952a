# make          build the library, the jar, the Java classes and the tests (build/)
# make test     every test: C++ unit tests and the JUnit tests, both again under ASan+UBSan
#               (build-asan/), a smoke run of the fuzz target (build-fuzz/), the benchmarks' smallest
#               sizes, and javadoc with doclint on
# make demo     build, then run the Java example with only the jar (build/engine-native.jar)
# make javadoc  the API documentation of the host classes and the typed layer, into build/javadoc
# make fuzz     run the fuzz target for FUZZ_SECONDS (default 60) over its corpus (clang, libFuzzer)
# make bench    build the benchmark tree (build-bench/), then the benchmark table against the peer
#               library (REPS=5 runs a line; BENCH_ARGS="--only queens,closure" picks workloads), then
#               the microbenchmarks
#
# The JDK is $JAVA_HOME, else the one whose javac is on the PATH, else Debian's OpenJDK 17
# (scripts/java-home.sh). CMAKE_ARGS adds arguments for every tree (for example
# CMAKE_ARGS=-DENGINE_JUNIT_JAR=/path/to/junit-platform-console-standalone.jar); a tree is configured
# again whenever its arguments differ from the last time.
BUILD       ?= build
ASAN_BUILD  ?= build-asan
FUZZ_BUILD  ?= build-fuzz
BENCH_BUILD ?= build-bench
FUZZ_SECONDS ?= 60
FUZZ_TARGETS := stream anyvars
REPS        ?= 5
BENCH_ARGS  ?=
CMAKE_ARGS  ?=
# Expanded where used, once scripts/ensure-deps.sh has installed what was missing.
JDK  = $(shell scripts/java-home.sh)
JAVA = $(JDK)/bin/java

# $(call configure,TREE,ARGUMENTS): configures TREE unless it was configured with these arguments.
# With other arguments the tree starts from a fresh cache, so that a setting left out is left out.
configure = @args='-G Ninja -DENGINE_JAVA_HOME=$(JDK) $(2) $(CMAKE_ARGS)'; \
  if [ ! -f $(1)/build.ninja ] || [ "$$(cat $(1)/configure-args 2>/dev/null)" != "$$args" ]; then \
    cmake --fresh -S . -B $(1) $$args && printf '%s\n' "$$args" > $(1)/configure-args; \
  fi

.PHONY: all build deps javadoc test test-asan test-fuzz fuzz-build fuzz demo bench clean

all: build

deps:
	@scripts/ensure-deps.sh core

build: deps
	$(call configure,$(BUILD),-DCMAKE_BUILD_TYPE=RelWithDebInfo)
	@cmake --build $(BUILD)

test: build test-asan test-fuzz
	@ctest --test-dir $(BUILD) --output-on-failure

test-asan: deps
	$(call configure,$(ASAN_BUILD),-DCMAKE_BUILD_TYPE=Debug -DENGINE_SANITIZE=ON)
	@cmake --build $(ASAN_BUILD)
	@ctest --test-dir $(ASAN_BUILD) --output-on-failure

# The fuzz target builds with clang in its own tree; the smoke test runs a few thousand inputs.
fuzz-build: deps
	@scripts/ensure-deps.sh fuzz
	$(call configure,$(FUZZ_BUILD),-DCMAKE_BUILD_TYPE=RelWithDebInfo -DENGINE_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++-14)
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

javadoc: build
	@cmake --build $(BUILD) --target javadoc

# The benchmarks build in a tree of their own, with the microbenchmarks, so that build/ keeps the
# configuration that `make` and `make test` give it.
BENCH_CP = $(BENCH_BUILD)/java/classes:$(BENCH_BUILD)/java/example-classes:$(BENCH_BUILD)/java/bench-classes
bench:
	@scripts/ensure-deps.sh core bench
	$(call configure,$(BENCH_BUILD),-DCMAKE_BUILD_TYPE=RelWithDebInfo -DENGINE_BENCH=ON -DENGINE_MICRO=ON)
	@cmake --build $(BENCH_BUILD)
	@test -x $(BENCH_BUILD)/bench/peer_bench || { echo "bench: the peer was not built (libbdd-dev)" >&2; exit 1; }
	@$(JAVA) -cp $(BENCH_CP) com.zvk.quarnelbrisk.bench.BenchDriver --java $(JAVA) --classpath $(BENCH_CP) \
	  --lib $(BENCH_BUILD)/lib --probe-lib $(BENCH_BUILD)/bench/probe --peer $(BENCH_BUILD)/bench/peer_bench \
	  --reps $(REPS) --markdown $(BENCH_BUILD)/bench/latest.md $(BENCH_ARGS)
	@echo "== microbenchmarks (engine_workloads: $(BENCH_BUILD)/bench/micro/engine_workloads, for profiling)"
	@$(BENCH_BUILD)/bench/micro/engine_micro

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD) $(BENCH_BUILD)
