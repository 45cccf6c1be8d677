# Runs a program on a pseudo-terminal, as a person at a terminal would, and
# answers each prompt it writes with the next answer.
#   on_terminal.py PROMPT ANSWER [PROMPT ANSWER ...] -- PROGRAM ARGS...
# Prints everything the terminal showed, then exits with the program's status.
import os, pty, sys, time

split = sys.argv.index("--")
pairs = sys.argv[1:split]
command = sys.argv[split + 1:]
pid, fd = pty.fork()
if pid == 0:
    os.execv(command[0], command)

shown = b""
def read_some(timeout):
    global shown
    end = time.time() + timeout
    import select
    while time.time() < end:
        ready, _, _ = select.select([fd], [], [], 0.1)
        if ready:
            try:
                data = os.read(fd, 4096)
            except OSError:
                return False
            if not data:
                return False
            shown += data
            return True
    return True

for i in range(0, len(pairs), 2):
    prompt, answer = pairs[i].encode(), pairs[i + 1].encode()
    start = len(shown)
    deadline = time.time() + 10
    while prompt not in shown[start - len(prompt) if start >= len(prompt) else 0:] and time.time() < deadline:
        if not read_some(0.5):
            break
    os.write(fd, answer + b"\n")
    start = len(shown)
while read_some(2):
    pass
_, status = os.waitpid(pid, 0)
sys.stdout.write(shown.decode("utf-8", "replace"))
sys.exit(os.waitstatus_to_exitcode(status))
