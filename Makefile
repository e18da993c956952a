# make          build the library, the Java classes and the tests
# make test     every test: C++ unit tests, the same under ASan+UBSan, and the JUnit tests
# make demo     build, then run the Java example against the library
BUILD      ?= build
ASAN_BUILD ?= build-asan
JAVA_HOME_17 := /usr/lib/jvm/java-17-openjdk-amd64
JAVA       := $(JAVA_HOME_17)/bin/java
CMAKE_ARGS := -G Ninja -DENGINE_JAVA_HOME=$(JAVA_HOME_17)

.PHONY: all build deps test test-asan demo clean

all: build

deps:
	@scripts/ensure-deps.sh core

build: deps
	@test -f $(BUILD)/build.ninja || cmake -S . -B $(BUILD) $(CMAKE_ARGS) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	@cmake --build $(BUILD)

test: build test-asan
	@ctest --test-dir $(BUILD) --output-on-failure

test-asan: deps
	@test -f $(ASAN_BUILD)/build.ninja || cmake -S . -B $(ASAN_BUILD) $(CMAKE_ARGS) -DCMAKE_BUILD_TYPE=Debug -DENGINE_SANITIZE=ON
	@cmake --build $(ASAN_BUILD)
	@ctest --test-dir $(ASAN_BUILD) --output-on-failure

demo: build
	@$(JAVA) -Djava.library.path=$(BUILD)/lib -cp $(BUILD)/java/classes:$(BUILD)/java/example-classes \
	  com.zvk.quarnelbrisk.example.Demo $(ARGS)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD)
