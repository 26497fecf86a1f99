"""Runs the README's zeva-host commands as a user pastes them at the repository root, and checks
what they print and their exit status against the output the README shows after them.

    readme_commands_test.py ROOT BUILD_DIR

The commands start the simulator and the host in namespaces of tests/netns/netns-run.sh (root
needed, else the test is skipped). ./build/ in a command is BUILD_DIR when that is another tree."""
import json
import os
import signal
import subprocess
import sys

SKIP = 77


def blocks(readme):
    """The README's indented blocks, each as its lines without the indent."""
    found, current = [], []
    for line in open(readme, encoding="utf-8"):
        if line.startswith("    "):
            current.append(line[4:].rstrip("\n"))
            continue
        if current:
            found.append(current)
            current = []
    if current:
        found.append(current)
    return found


def is_host_command(block):
    if block[0].startswith("./build/tools/zeva-host/zeva-host"):
        return True  # refused before the start, so it needs no namespace
    return block[0].startswith("tests/netns/netns-run.sh") and "zeva-host" in "\n".join(block)


def commands_and_outputs(readme):
    """(command text, [expected output lines]) for every zeva-host command block; the output
    blocks are those that follow it up to the next command."""
    pairs = []
    for block in blocks(readme):
        if is_host_command(block):
            pairs.append(("\n".join(block), []))
        elif pairs and not block[0].startswith(("tests/", "cmake ", "ctest ", "bash ", "./", "T=")):
            pairs[-1][1].extend(block)
    return pairs


def expected_status(expected):
    """The exit status the README's output gives: a request whose result is 1 ends with 0, any
    other result with 1, one never sent with 2 (the README shows those of status 2); a listing
    with 0."""
    for line in expected:
        if line.startswith("result "):
            return 0 if line.split()[1] == "1" else 1
        if line.startswith("{") and '"request"' in line:
            result = json.loads(line)["result"]
            return 2 if result is None else 0 if result == 1 else 1
    return 0


OUTCOME_KEYS = ["request", "target", "result", "error", "errorName", "errorMeaning", "message", "record"]


def outcome_problems(line):
    """What is wrong with a request outcome's JSON line: its keys, in order, and their types."""
    o = json.loads(line)
    if list(o) != OUTCOME_KEYS:
        return ["keys %s, not %s: %s" % (list(o), OUTCOME_KEYS, line)]
    sent = o["result"] is not None
    wanted = {
        "request": str, "target": str, "result": int if sent else type(None),
        "message": type(None) if sent else str, "record": (dict, type(None)) if sent else type(None),
    }
    error = (int, str, str) if o["error"] is not None else (type(None),) * 3
    wanted.update(zip(("error", "errorName", "errorMeaning"), error))
    return ["%s is %r in %s" % (key, o[key], line) for key, types in wanted.items()
            if not isinstance(o[key], types) or isinstance(o[key], bool)]


def check(command, expected, out, status):
    problems = []
    want = expected_status(expected)
    if status != want:
        problems.append("exit status %d, not %d" % (status, want))
    lines = out.splitlines()
    if "--json" in command:
        for n, line in enumerate(lines, 1):
            try:
                if '"request"' in line:
                    problems.extend(outcome_problems(line))
                else:
                    json.loads(line)
            except ValueError as e:
                problems.append("line %d is no JSON (%s): %s" % (n, e, line))
        words = command.split()
        if "--devices" in words:
            count = int(words[words.index("--devices") + 1])
            serials = {json.loads(l)["serial"] for l in lines if '"status":"new"' in l}
            if len(serials) != count:
                problems.append("%d devices listed, not %d" % (len(serials), count))
    for line in expected:
        if line not in lines:
            problems.append("the README's output line is missing: " + line)
    if not expected and "--devices" not in command:
        problems.append("the README shows no output to check this command against")
    return problems


def run_command(command, root):
    """(stdout, exit status); a command still running after 90 s is stopped with SIGTERM, which
    netns-run.sh turns into removing its namespaces, and reported with status -1."""
    proc = subprocess.Popen(["bash", "-c", command], cwd=root, stdout=subprocess.PIPE,
                            stderr=subprocess.DEVNULL, text=True, start_new_session=True)
    try:
        out, _ = proc.communicate(timeout=90)
        return out, proc.returncode
    except subprocess.TimeoutExpired:
        os.killpg(proc.pid, signal.SIGTERM)
        try:
            out, _ = proc.communicate(timeout=20)
        except subprocess.TimeoutExpired:
            os.killpg(proc.pid, signal.SIGKILL)
            out, _ = proc.communicate()
        return out, -1


def main():
    root, build = sys.argv[1], sys.argv[2]
    if os.geteuid() != 0:
        print("network namespaces need root")
        return SKIP
    pairs = commands_and_outputs(os.path.join(root, "README.md"))
    if not pairs:
        print("FAIL: the README has no zeva-host command")
        return 1
    failed = 0
    for command, expected in pairs:
        run = command
        if os.path.realpath(build) != os.path.realpath(os.path.join(root, "build")):
            run = run.replace("./build/", build.rstrip("/") + "/")
        out, status = run_command(run, root)
        problems = check(command, expected, out, status)
        print("%s: %s" % ("FAIL" if problems else "ok", command.splitlines()[-1].strip()))
        for p in problems:
            print("    " + p)
        if problems:
            print("    output:\n" + "".join("      " + l + "\n" for l in out.splitlines()))
        failed += bool(problems)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
