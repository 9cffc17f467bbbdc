# The two commands of the README: `make run` and `make test`. Both install what
# is missing, configure and build; the build trees can be moved with BUILD=...
BUILD ?= build
SANITIZE_BUILD ?= build-sanitize
DEB_BUILD ?= build-deb
CMAKE_FLAGS ?=
PREFIX ?= /usr/local

.PHONY: run test deps build sanitize-build install uninstall deb clean

deps:
	@scripts/install-deps.sh

build: deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS)
	cmake --build $(BUILD)

sanitize-build: deps
	cmake -S . -B $(SANITIZE_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g" -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -g" \
	    -DTESSARY_SANITIZE=ON $(CMAKE_FLAGS)
	cmake --build $(SANITIZE_BUILD)

run: build
	@scripts/run.sh $(BUILD)

# The whole suite, then the fast tests again under AddressSanitizer and UBSan.
test: build sanitize-build
	cd $(BUILD) && ctest --output-on-failure --timeout 1800
	cd $(SANITIZE_BUILD) && ctest --output-on-failure --timeout 1800 -LE slow

# Installs into PREFIX (below DESTDIR when set); the build tree's install manifest lists
# every file, and `make uninstall` removes them again.
install: build
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix "$(PREFIX)"

uninstall:
	DESTDIR="$(DESTDIR)" scripts/uninstall.sh $(BUILD)/install_manifest.txt

# The Debian package tessary_<version>_<arch>.deb in DEB_BUILD, checked with lintian.
deb:
	@scripts/install-deps.sh deb
	scripts/make-deb.sh $(DEB_BUILD)

clean:
	rm -rf $(BUILD) $(SANITIZE_BUILD) $(DEB_BUILD)
