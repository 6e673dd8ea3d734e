#!/usr/bin/env bash
# Installs what is needed (all of scripts/setup.sh), builds everything and runs every test.
#   scripts/test.sh                      normal build in build/
#   scripts/test.sh -v                   the same, showing every build step and every test
#   KESTA_SANITIZE=ON scripts/test.sh    AddressSanitizer + UBSan build in build-sanitize/
# Quiet by default: compiler messages and failing tests are shown in full,
# then ctest's one-line summary ("100% tests passed, 0 tests failed out of N").
# The full logs stay in the build folder (build.log, test.log).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/stage.sh

verbose=${KESTA_VERBOSE:-0}
for arg in "$@"; do
    case $arg in
        -v|--verbose) verbose=1 ;;
        -h|--help) sed -n '2,8s/^# \{0,1\}//p' "$0"; exit 0 ;;
        *) echo "scripts/test.sh: unknown option $arg (try --help)" >&2; exit 2 ;;
    esac
done

bash scripts/setup.sh

sanitize=${KESTA_SANITIZE:-OFF}
build_dir=build
[ "$sanitize" = "ON" ] && build_dir=build-sanitize
jobs=$(nproc)
# Most host tests wait on another program (a host, Xvfb, a sound server):
# twice as many as there are cores keep the cores busy.
test_jobs=$((2 * jobs))

# (The benchmarks are built by .ci/run's clang stage; they are no test.)
KESTA_VERBOSE=$verbose stage "Configuring $build_dir/" "$build_dir/configure.log" \
    cmake -S . -B "$build_dir" -G Ninja -DKESTA_SANITIZE="$sanitize" -DKESTA_BUILD_TESTS=ON \
    -DKESTA_BUILD_BENCH=OFF

if [ "$verbose" = 1 ]; then
    cmake --build "$build_dir" -j "$jobs"
    ctest --test-dir "$build_dir" --output-on-failure -j "$test_jobs"
    exit
fi

# The build: one line, then everything but ninja's progress lines (so
# warnings and errors show).
status=0
start=$SECONDS
printf 'Building in %s/ ... ' "$build_dir"
cmake --build "$build_dir" -j "$jobs" >"$build_dir/build.log" 2>&1 || status=$?
if [ "$status" = 0 ]; then echo "done ($((SECONDS - start)) s)"; else echo "failed:"; fi
grep -Ev '^\[[0-9]+/[0-9]+\] |^ninja: (no work to do|build stopped)' "$build_dir/build.log" || true
if [ "$status" != 0 ]; then
    echo "Build failed (exit status $status); the full log is $build_dir/build.log"
    exit "$status"
fi

# The tests: the output of each failing test and ctest's list of failures,
# then its summary line last.
status=0
start=$SECONDS
printf 'Running the tests (%s) ... ' "$(ctest --test-dir "$build_dir" -N | sed -n 's/^Total Tests: //p')"
ctest --test-dir "$build_dir" --output-on-failure -j "$test_jobs" >"$build_dir/test.log" 2>&1 || status=$?
if [ "$status" = 0 ]; then outcome="done"; else outcome=failed; fi
echo "$outcome ($((SECONDS - start)) s)"
awk -v logfile="$build_dir/test.log" -v failed="$status" '
    /^Test project |^Internal ctest changing into directory/   { blanks = 0; next }
    /^ *Start +[0-9]+: /                                       { blanks = 0; next }
    /^ *[0-9]+\/[0-9]+ Test +#[0-9]+: .* Passed +[0-9.]+ sec$/ { blanks = 0; next }
    /^Total Test time/                                         { blanks = 0; next }
    /^[0-9]+% tests passed, /                                  { summary = $0; blanks = 0; next }
    /^[ \t]*$/                                                 { blanks++; next }
    { if (printed && blanks) print ""; blanks = 0; printed = 1; print }
    END {
        if (failed != 0) print "The full log is " logfile
        print (summary != "" ? summary : "ctest gave no summary (exit status " failed "); see " logfile)
    }
' "$build_dir/test.log"
exit "$status"
