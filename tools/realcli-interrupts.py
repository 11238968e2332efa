#!/usr/bin/env python3
"""Measure how quickly Tallyloft notices that a real agent CLI was interrupted, killed or lost
its terminal. Each run of one CLI and scenario has a fresh HOME with Tallyloft's hooks and a
logging hook, `tallyloft serve` on a runtime folder of the run's own (its hooks post to that
folder's socket, so the tool runs beside the app), and the CLI
typed into `bash -i` in a pseudo-terminal (WINDOWID, TMUX, TMUX_PANE set) against a fake model
server. Once the agent is busy the tool acts and polls
`tallyloft status --json` every 100 ms for up to 20 s, timed from the action's last key or signal:

  ctrlc-tool     Ctrl+C while the tool `sleep 60` runs            -> main agent "idle"
  ctrlc-stall    Ctrl+C while the model request hangs             -> main agent "idle"
  kill9-tool     SIGKILL to the CLI process while the tool runs   -> session leaving or gone
  closepty-tool  terminal closed (SIGHUP) while the tool runs     -> session leaving or gone

The fake servers are the shared ones in ../shared/realcli beside the checkout (imported). They always answer with
the tool call `echo tallyloft-real-client`; ModalFake turns it into `sleep 60`, or holds the
request open ("stall"). Codex's hook review is answered in the terminal ("Trust all"), and when
Codex asks what to do with the running task after Ctrl+C, Enter takes "Cancel task".
The CLIs come from REALCLI_BIN (default /tmp/realcli/node_modules/.bin). With --keep, each run's
directory keeps the screen (screen.log), serve's output and every hook the CLI ran, with the hook
shell's $PPID, its command line, the shell and WINDOWID/TMUX/TMUX_PANE (events.jsonl).
Tests: python3 -m unittest discover -s tools -p 'test_realcli*'
"""
import argparse, contextlib, fcntl, glob, importlib, json, os, pty, re, select, shutil, signal
import socket, struct, subprocess, sys, tempfile, termios, threading, time
from http.server import ThreadingHTTPServer

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
# The scripted model services and per-CLI settings live beside the checkout, where there is one.
REALCLI = os.environ.get("REALCLI_DIR", os.path.join(os.path.dirname(ROOT), "shared", "realcli"))
sys.path.insert(0, REALCLI)
try:
    import clis  # noqa: E402  (per-CLI environment, settings and fake model servers)
except ImportError:
    clis = None

SCENARIOS = {"ctrlc-tool": ("sleep", "ctrlc", "idle"), "ctrlc-stall": ("stall", "ctrlc", "idle"),
             "kill9-tool": ("sleep", "kill9", "leaving"),
             "closepty-tool": ("sleep", "closepty", "leaving")}  # fake mode, action, awaited
ECHO, PROMPT, WAIT = b"echo tallyloft-real-client", "first prompt please run the tool", 20.0
# Claude Code events clis.py does not log, but that the captures show or Tallyloft installs.
EXTRA_EVENTS = {"claude": ["PostToolUseFailure", "PermissionRequest", "SubagentStart",
                           "PostCompact", "PostToolBatch", "MessageDisplay", "StopFailure"]}


def until(condition, limit, step=0.1):
    end = time.monotonic() + limit
    while not condition():
        if time.monotonic() >= end:
            return False
        time.sleep(step)
    return True


class ModalFake:
    """The shared fake server of `cli`; its tool call is kept (mode "normal"), becomes
    `sleep 60` ("sleep"), or gets no answer until the client hangs up ("stall")."""

    def __init__(self, cli):
        self.mode, self.stalled, self.closing = "normal", False, False
        fake = self

        class Handler(importlib.import_module(clis.FAKES[cli]).H):
            def _send(self, code, body, ctype="application/json"):
                data = body if isinstance(body, bytes) else json.dumps(body).encode()
                if ECHO in data and fake.mode == "stall":
                    return fake.hold(self.connection)
                super()._send(code, data.replace(ECHO, b"sleep 60") if fake.mode == "sleep"
                              else data, ctype)

        self.server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.server.escalate, self.port = False, self.server.server_address[1]
        threading.Thread(target=self.server.serve_forever, daemon=True).start()

    def hold(self, conn):
        self.stalled = True
        while not self.closing:
            try:
                if select.select([conn], [], [], 0.2)[0] and not conn.recv(1, socket.MSG_PEEK):
                    break
            except OSError:
                break

    def close(self):
        self.closing = True
        self.server.shutdown()
        self.server.server_close()


QUERIES = [(b"\x1b[6n", b"\x1b[1;1R"), (b"\x1b[c", b"\x1b[?62;22c"),  # cursor position, DA1
           (b"\x1b]10;?", b"\x1b]10;rgb:ffff/ffff/ffff\x1b\\"),         # colours
           (b"\x1b]11;?", b"\x1b]11;rgb:0000/0000/0000\x1b\\")]
ESCAPES = re.compile(rb"\x1b\[[0-9;?<>=]*[ -/]*[@-~]|\x1b\][^\x07\x1b]*(\x07|\x1b\\)"
                     rb"|\x1b[()][0-9A-Za-z]|\x1b[=>78]")


class Terminal:
    """A 120x40 pseudo-terminal running `bash -i`. Answers the queries TUIs send and keeps the
    screen's output as plain text (cursor moves read as spaces) for wait_text()."""

    def __init__(self, env, cwd, log_path):
        self.pid, self.fd = pty.fork()
        if self.pid == 0:
            os.chdir(cwd)
            os.execvpe("bash", ["bash", "--norc", "--noprofile", "-i"], env)
        fcntl.ioctl(self.fd, termios.TIOCSWINSZ, struct.pack("HHHH", 40, 120, 0, 0))
        self.text, self.last_output = "", time.monotonic()
        self.log, self.closed = open(log_path, "wb"), False
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        while not self.closed:
            try:
                ready = select.select([self.fd], [], [], 0.1)[0]
                chunk = os.read(self.fd, 65536) if ready else None
            except OSError:
                return
            if chunk == b"":
                return
            if chunk:
                self.log.write(chunk)
                plain = ESCAPES.sub(b"", re.sub(rb"\x1b\[\d*[CG]", b" ", chunk))
                self.text += plain.decode("utf-8", "replace")
                self.last_output = time.monotonic()
                for query, answer in QUERIES:  # TUIs write each query whole
                    if query in chunk:
                        self.write(answer * chunk.count(query))

    def write(self, data):
        try:
            if not self.closed:
                os.write(self.fd, data if isinstance(data, bytes) else data.encode())
        except OSError:  # the shell is gone
            pass

    def type_line(self, line):
        """Typed in pieces, then Enter after a pause: TUIs take fast input for a paste."""
        for i in range(0, len(line), 8):
            self.write(line[i:i + 8])
            time.sleep(0.03)
        time.sleep(0.4)
        self.write(b"\r")

    def wait_quiet(self, quiet, limit):
        until(lambda: time.monotonic() - self.last_output >= quiet, limit)

    def wait_text(self, pattern, limit, start=0):
        return until(lambda: re.search(pattern, self.text[start:]), limit)

    def close(self):
        """Close the master side as a terminal window does, and the kernel hangs up the shell.
        A read pending in the reader would keep the file open, so the reader ends first."""
        if not self.closed:
            self.closed = True
            self.reader.join()
            os.close(self.fd)


# The logging hook: $PPID, $$ and the /proc look-ups are evaluated by the shell the CLI started.
LOGGER = r"""import json, os, sys, time
ppid, ppid_cmd, shell, shell_argv, out = sys.argv[1:6]
try:
    payload = json.load(sys.stdin)
except ValueError:
    payload = None
env = {k: os.environ[k] for k in ("WINDOWID", "TMUX", "TMUX_PANE") if k in os.environ}
with open(out, "a") as f:
    print(json.dumps({"t": time.time(), "ppid": int(ppid), "ppid_cmd": ppid_cmd, "shell": shell,
                      "shell_argv": shell_argv, "env": env, "payload": payload}), file=f)
"""


def prepare(cli, home, proj, work, port, opts):
    """clis.py's auth and provider settings, what an interactive start needs, and our logging
    hook after Tallyloft's on every event; returns the environment and the command to type."""
    env = getattr(clis, "setup_" + cli)(home, proj, port)
    env.update(WINDOWID="12345", TMUX="/tmp/tmux-0/default,4242,0", TMUX_PANE="%7",
               TERM="xterm-256color", TMPDIR=os.path.join(work, "tmp"))  # goes with the run
    os.makedirs(env["TMPDIR"])
    env.pop("NO_COLOR", None)
    command = os.path.join(clis.BIN, cli)
    if cli == "claude":  # no onboarding, folder-trust or API-key questions; the tool may run
        clis._merge_json(os.path.join(home, ".claude.json"), {
            "hasCompletedOnboarding": True, "theme": "dark",
            "customApiKeyResponses": {"approved": [env["ANTHROPIC_API_KEY"][-20:]]},
            "projects": {proj: {"hasTrustDialogAccepted": True}}})
        clis._merge_json(os.path.join(home, ".claude", "settings.json"),
                         {"permissions": {"allow": ["Bash(sleep:*)", "Bash(echo:*)"]}})
    elif cli == "gemini":
        command += " --approval-mode yolo"
    elif opts.codex_bypass_trust:
        command += " --dangerously-bypass-hook-trust"
    r = tallyloft(opts, home, "hooks", "install", "--cli", cli)
    if r.returncode != 0:
        sys.exit(f"error: `tallyloft hooks install --cli {cli}`: {r.stderr.strip()}")
    path = os.path.join(home, {"claude": ".claude/settings.json", "gemini": ".gemini/settings.json",
                               "codex": ".codex/hooks.json"}[cli])
    with open(path) as f:  # the hooks post to the socket in the run's own runtime folder
        data = json.load(f)
    with open(os.path.join(work, "logger.py"), "w") as f:
        f.write(LOGGER)
    hook = (f"python3 {work}/logger.py \"$PPID\" \"$(tr '\\0' ' ' </proc/$PPID/cmdline)\" "
            f"\"$(readlink /proc/$$/exe)\" \"$(head -c 30 /proc/$$/cmdline | tr '\\0' ' ')\" "
            f"{work}/events.jsonl")
    for event in clis.EVENTS[cli] + EXTRA_EVENTS.get(cli, []):
        data.setdefault("hooks", {}).setdefault(event, []).append(
            {"matcher": "*" if event in clis.TOOL_EVENTS else "",
             "hooks": [{"type": "command", "command": hook}]})
    with open(path, "w") as f:
        json.dump(data, f, indent=1)
    return env, command


def runtime_dir(home):
    return os.path.join(os.path.dirname(home), "run")


def tallyloft(opts, home, *args, **popen):
    """HOME for the settings files; a runtime directory of the run's own holds the status
    socket, so `status` asks our `serve` and no other Tallyloft of this user."""
    runtime = runtime_dir(home)
    os.makedirs(runtime, mode=0o700, exist_ok=True)
    env = dict(os.environ, HOME=home, XDG_RUNTIME_DIR=runtime, QT_QPA_PLATFORM="offscreen")
    try:
        if popen:
            return subprocess.Popen([opts.tallyloft, *args], env=env, stdin=subprocess.DEVNULL,
                                    **popen)
        return subprocess.run([opts.tallyloft, *args], env=env, capture_output=True, text=True,
                              timeout=10)
    except OSError as error:  # e.g. being relinked by a build
        sys.exit(f"error: cannot run {opts.tallyloft}: {error}")


def start_serve(opts, home, log):
    hook_socket = os.path.join(runtime_dir(home), "tallyloft", "hook.sock")
    proc = tallyloft(opts, home, "serve", stdout=log, stderr=subprocess.STDOUT)
    if until(lambda: proc.poll() is not None or os.path.exists(hook_socket)
             and sessions(opts, home) is not None, 10) and proc.poll() is None:
        return proc
    proc.kill()
    sys.exit(f"error: `tallyloft serve` did not come up (exit {proc.wait()}); see {log.name}")


def sessions(opts, home):
    """`tallyloft status --json`'s sessions, or None when it gives none (exit 1: our serve is
    not answering), so that a session counts as gone only when a live server lacks it."""
    try:
        return json.loads(tallyloft(opts, home, "status", "--json").stdout)["sessions"]
    except (subprocess.TimeoutExpired, ValueError, KeyError, TypeError):
        return None


def find_session(found, session_id, cli):
    """Ours by id, else the one of this CLI (every run has a server of its own)."""
    return ([s for s in found if s.get("id") == session_id]
            or [s for s in found if s.get("cli") == cli] or [None])[0]


def main_agent(session):
    return next((a for a in (session or {}).get("agents") or [] if a.get("main")), {})


def reached(session, awaited):
    if awaited == "leaving":
        return session is None or bool(session.get("leaving"))
    return main_agent(session).get("state") == "idle"


def describe(session):
    if not isinstance(session, dict):
        return session or "gone"
    agent = main_agent(session)
    return (f"{agent.get('state', session.get('state'))} {agent.get('tool') or ''}".rstrip()
            + " leaving" * bool(session.get("leaving"))
            + f" (process {(session.get('process') or {}).get('status')})")


def children(pid):
    kids = []
    for path in glob.glob(f"/proc/{pid}/task/*/children"):  # every thread has its own
        with contextlib.suppress(OSError), open(path) as f:
            kids += [int(k) for k in f.read().split()]
    return kids


def descendants(pid):
    kids = children(pid)
    return kids + [d for k in kids for d in descendants(k)]


def proc_field(pid, name):
    try:
        with open(f"/proc/{pid}/{'cmdline' if name == 'cmdline' else 'stat'}", "rb") as f:
            data = f.read()
        if name == "cmdline":
            return data.replace(b"\0", b" ").decode(errors="replace").strip()
        return int(data.rsplit(b")", 1)[1].split()[3])  # the session id
    except (OSError, ValueError, IndexError):
        return None


def foreground(shell, pid=None):
    """The CLI the user started: down the terminal's session from its shell (tools, and Codex's
    app-server daemon, run in sessions of their own)."""
    kids = [k for k in children(pid or shell) if proc_field(k, "session") == shell]
    return foreground(shell, kids[0]) if kids else pid or shell


def start_cli(cli, term, command):
    term.wait_quiet(0.5, 5)
    term.type_line(command)
    term.wait_text(r"for shortcuts", 40)  # each TUI shows this hint once it takes input
    term.wait_quiet(2.0, 20)
    if cli == "codex" and term.wait_text(r"Hooks need review", 15):
        term.wait_quiet(1.0, 5)
        mark = len(term.text)
        term.write("2")  # "2. Trust all and continue"
        term.wait_text(r"› 2\. Trust all", 5, mark)
        term.write("\r")
        term.wait_quiet(1.5, 20)


def act(cli, action, term, pid):
    if action == "kill9":
        os.kill(pid, signal.SIGKILL)
    elif action == "closepty":
        term.close()
    else:
        mark = len(term.text)
        term.write(b"\x03")
        if cli == "codex" and term.wait_text(r"Task is still running", 3, mark):
            time.sleep(0.3)
            term.write(b"\r")  # "1. Cancel task"


def run(cli, scenario, opts, log):
    """One run: (seconds to the awaited state or None, what Tallyloft showed)."""
    mode, action, awaited = SCENARIOS[scenario]
    work = tempfile.mkdtemp(prefix=f"realcli-{cli}-{scenario}-")
    home, proj, events = (os.path.join(work, n) for n in ("home", "proj", "events.jsonl"))
    serve = term = fake = None
    doomed = set()
    try:
        os.makedirs(home)
        fake = ModalFake(cli)
        env, command = prepare(cli, home, proj, work, fake.port, opts)
        serve = start_serve(opts, home, open(os.path.join(work, "serve.log"), "w"))
        term = Terminal(env, proj, os.path.join(work, "screen.log"))
        start_cli(cli, term, command)
        fake.mode = mode
        log("prompt")
        term.type_line(PROMPT)
        if not until(lambda: fake.stalled if mode == "stall" else any(
                (e["payload"] or {}).get("hook_event_name") in ("PreToolUse", "BeforeTool")
                for e in clis.read_events(events)), 60):
            return None, "never busy"
        time.sleep(2.0)
        before = clis.read_events(events)
        session_id = next((e["payload"]["session_id"] for e in before if e["payload"]), None)
        pid = foreground(term.pid)
        doomed.update(descendants(term.pid))
        shown = describe(find_session(sessions(opts, home) or [], session_id, cli))
        log(f"{action} {pid} ({proc_field(pid, 'cmdline')[:60]}); Tallyloft: {shown}")
        act(cli, action, term, pid)
        start = time.monotonic()
        last = ["no answer"]

        def done():
            found = sessions(opts, home)
            if found is not None:
                last[0] = find_session(found, session_id, cli)
            return found is not None and reached(last[0], awaited)
        took = time.monotonic() - start if until(done, WAIT) else None
        return took, f"{shown} -> {describe(last[0])}"
    finally:
        if term:  # the CLI, its tools and any daemon it started, then the shell
            doomed.update(descendants(term.pid) + [term.pid])
            term.close()
        for pid in doomed:
            with contextlib.suppress(ProcessLookupError):
                os.kill(pid, signal.SIGKILL)
        if term:
            os.waitpid(term.pid, 0)
        if serve:
            serve.terminate()
            serve.wait()
        if fake:
            fake.close()
        if opts.keep:
            log(f"kept {work}")
        else:
            shutil.rmtree(work, ignore_errors=True)


def main():
    if clis is None:
        print(f"skipped: no scripted model services in {REALCLI} (set REALCLI_DIR)",
              file=sys.stderr)
        return 77 if "--check" in sys.argv else 1
    ap = argparse.ArgumentParser(description=__doc__,
                                 formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--cli", action="append", choices=list(clis.RUNNERS),
                    help="only this CLI (repeatable; default: all three)")
    ap.add_argument("--scenario", action="append", choices=list(SCENARIOS),
                    help="only this scenario (repeatable; default: all four)")
    ap.add_argument("--tallyloft", default=os.path.join(ROOT, "build", "dev", "src", "tallyloft"),
                    help="the tallyloft binary (default %(default)s)")
    ap.add_argument("--codex-bypass-trust", action="store_true",
                    help="start Codex with --dangerously-bypass-hook-trust, as the captures did, "
                         "instead of reviewing its hooks; Codex then runs the session in its own "
                         "process rather than in its app-server daemon")
    ap.add_argument("--keep", action="store_true", help="keep each run's temporary directory")
    ap.add_argument("--check", type=float, metavar="SECONDS",
                    help="as a test: exit 1 unless every run reached its state within SECONDS; "
                         "exit 77 (skipped) unless REALCLI_BIN names the CLIs")
    opts = ap.parse_args()
    if opts.check is not None and not os.environ.get("REALCLI_BIN"):
        print("skipped: set REALCLI_BIN to the folder with claude, gemini and codex", file=sys.stderr)
        return 77
    if not os.access(opts.tallyloft, os.X_OK):
        sys.exit(f"error: no tallyloft binary at {opts.tallyloft} (pass --tallyloft)")
    for cli in opts.cli or clis.RUNNERS:
        if not os.access(os.path.join(clis.BIN, cli), os.X_OK):
            sys.exit(f"error: no {cli} in {clis.BIN}: npm install --prefix /tmp/realcli "
                     "@anthropic-ai/claude-code @google/gemini-cli @openai/codex")
    t0 = time.monotonic()
    rows = [("cli", "scenario", "seconds to state", "Tallyloft at the action -> last seen")]
    timings = []
    for cli in opts.cli or clis.RUNNERS:
        for scenario in opts.scenario or SCENARIOS:
            def log(what):
                print(f"{time.monotonic() - t0:6.1f}  {cli} {scenario}: {what}", file=sys.stderr,
                      flush=True)
            seconds, note = run(cli, scenario, opts, log)
            timings.append(seconds)
            took = f"{seconds:.1f} s" if seconds is not None else f"not within {WAIT:.0f} s"
            rows.append((cli, scenario, f"{SCENARIOS[scenario][2]}: {took}", note))
    widths = [max(len(r[i]) for r in rows) for i in range(3)] + [0]
    for row in rows:
        print("  ".join(c.ljust(w) for c, w in zip(row, widths)).rstrip())
    if opts.check is not None and any(s is None or s > opts.check for s in timings):
        print(f"FAILED: a run took longer than {opts.check:g} s", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
