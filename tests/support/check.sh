# Sourced by the shell tests: check NAME EXPECTED ACTUAL counts and reports; summary LABEL closes the run.
passed=0
failed=0
check() {
    if [[ $2 == "$3" ]]; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        printf 'FAILED %s\n  expected: %q\n  actual:   %q\n' "$1" "$2" "$3"
    fi
}
# Prints "<label>: N passed, N failed" and answers whether nothing failed.
summary() {
    echo "$1: $passed passed, $failed failed"
    [[ $failed == 0 ]]
}
