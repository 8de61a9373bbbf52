# Sourced by the scripts whose build trees .ci/run builds ahead in the background.
# locked <tree> <command>...: runs the command (configure and build that tree) holding the tree's lock, so
# that a build started ahead and the step that needs the tree never run in it at the same time: the step
# waits, then finds the tree built.
locked() {
    local tree=$1
    shift
    mkdir -p "$tree"
    (
        exec 8> "$tree/.build-lock"
        if ! flock -n 8; then
            echo "$(basename "$0"): $tree is being built ahead; waiting for it"
            flock 8
        fi
        "$@"
    )
}
