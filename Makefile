# make run   builds and starts the client (headless: runs it under Xvfb and saves a screenshot)
# make test  builds and runs every test, the networked parts' tests again under ASan and UBSan, and the
#            threaded parts' tests under TSan
# make bench builds and runs the benchmarks, printing ratios against their named peers
BUILD ?= build
OUT := $(BUILD)/out
ARGS ?= userid=1001&roomid=1&subject=示范课&apptype=2
JOBS ?= $(shell nproc)

PREFIX ?= /usr/local

.PHONY: all deps configure build test asan tsan run bench skin assets translations install deb fresh-check clean

all: build

deps:
	@bash scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

# Every test, then the networked parts' tests once more under ASan and UBSan (build folder $(BUILD)/asan)
# and the threaded parts' under TSan ($(BUILD)/tsan): a finding there fails the target.
test: build
	@bash scripts/run-fuzzers $(BUILD)
	@bash scripts/with-test-env ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)
	@bash scripts/run-sanitized-tests $(BUILD) asan
	@bash scripts/run-sanitized-tests $(BUILD) tsan

# The networked parts' tests under ASan and UBSan alone (build folder $(BUILD)/asan), and the client's
# threaded parts under ThreadSanitizer ($(BUILD)/tsan).
asan: deps
	@bash scripts/run-sanitized-tests $(BUILD) asan

tsan: deps
	@bash scripts/run-sanitized-tests $(BUILD) tsan

run: build
	@ROOM='$(ROOM)' SOLO='$(SOLO)' bash scripts/run-client "$(OUT)" '$(ARGS)'

bench: build
	@bash scripts/run-benchmarks "$(BUILD)"

# Redraws the skin into assets/ui (the result is committed, so a build needs no generator run).
skin: build
	@$(BUILD)/tools/skin_generator assets/ui

# Installs into $(PREFIX) (default /usr/local); DESTDIR is honoured.
install: build
	@cmake --install $(BUILD) --prefix $(PREFIX)

# The Debian packages quorin and quorin-server (and their -dbgsym packages), in the build folder.
deb: build
	@cd $(BUILD) && cpack -G DEB >/dev/null && ls -1 $(abspath $(BUILD))/quorin*_*.*deb

# Redraws the 90 faces and makes the two sounds into assets/ (committed as well).
assets: build
	@$(BUILD)/tools/asset_generator assets

# Brings the client's texts into the translation catalogue (lupdate) and fills in the English that
# translations/fill_en.py knows; it lists the texts that still need English.
translations:
	@/usr/lib/qt6/bin/lupdate -silent -tr-function-alias QT_TRANSLATE_NOOP+=UI_TEXT -locations none \
		-no-obsolete app chat roster session video devices skin -ts translations/quorin_en.ts
	@python3 translations/fill_en.py translations/quorin_en.ts

# The two commands on a freshly bootstrapped Debian 12 (root; long: see the README).
fresh-check:
	@bash scripts/fresh-machine-check

clean:
	rm -rf $(BUILD)
