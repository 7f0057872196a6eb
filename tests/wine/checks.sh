# Sourced by the Wine test scripts: checks that each print one line, and the
# summary "N passed, M failed" that ends every such script.
#   check NAME COMMAND...   runs COMMAND; PASS or FAIL with NAME (through the
#                           script's own `say` when it has one), and the
#                           command's output when it fails
#   checks_summary          prints the summary; true when nothing failed
passed=0
failed=0
check_log=$(mktemp)
check_say() { if declare -F say >/dev/null; then say "$@"; else echo "$@"; fi; }
check() {
    local name=$1
    shift
    if "$@" >"$check_log" 2>&1; then
        passed=$((passed + 1))
        check_say "PASS: $name"
    else
        failed=$((failed + 1))
        check_say "FAIL: $name"
        sed 's/^/    /' "$check_log"
    fi
}
checks_summary() {
    rm -f "$check_log"
    echo "$passed passed, $failed failed"
    [ "$failed" -eq 0 ]
}
