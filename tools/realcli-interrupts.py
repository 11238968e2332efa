#!/usr/bin/env python3
"""Measure how quickly Tallyloft notices that a real agent CLI was interrupted, killed or lost
its terminal.

For each CLI (claude, gemini, codex) and scenario, with a fresh temporary HOME: install
Tallyloft's hooks (`tallyloft hooks install --cli X`) plus a logging hook of our own, start
`tallyloft serve`, start the CLI interactively in a pseudo-terminal (`bash -i` as the
terminal's shell, WINDOWID and TMUX_PANE set), submit a prompt against a scripted fake model
server, wait until the agent is busy, act, then poll `tallyloft status --json` every 100 ms for
up to 20 s and print how long the session took to show the expected state.

Scenarios:
  ctrlc-tool     Ctrl+C while the tool `sleep 60` runs             -> main agent "idle"
  ctrlc-stall    Ctrl+C while the model request hangs              -> main agent "idle"
  kill9-tool     SIGKILL to the CLI process while the tool runs    -> session leaving / gone
  closepty-tool  terminal closed (SIGHUP) while the tool runs      -> session leaving / gone

The fake model servers come from /work/shared/realcli (imported, not copied). They always
answer with the tool call `echo tallyloft-real-client`; the small subclass below turns that
into `sleep 60` ("sleep" mode) or holds the request open until the client hangs up ("stall").
Needs the CLIs under REALCLI_BIN (default /tmp/realcli/node_modules/.bin).
--hooks-only runs the CLIs without Tallyloft and prints what the logging hook saw instead.
"""
import argparse, importlib, json, os, pty, re, select, shutil, signal, socket, struct, subprocess
import sys, tempfile, termios, fcntl, threading, time
from http.server import ThreadingHTTPServer

SHARED = "/work/shared/realcli"
sys.path.insert(0, SHARED)
import clis  # noqa: E402  (the shared runner: env, settings and fake servers for each CLI)

CLIS = ("claude", "gemini", "codex")
SCENARIOS = {  # name: (fake mode, action, awaited state)
    "ctrlc-tool": ("sleep", "ctrlc", "idle"),
    "ctrlc-stall": ("stall", "ctrlc", "idle"),
    "kill9-tool": ("sleep", "kill9", "leaving"),
    "closepty-tool": ("sleep", "closepty", "leaving"),
}
ECHO = b"echo tallyloft-real-client"
TOOL_START = {"PreToolUse", "BeforeTool"}
PROMPT = "first prompt please run the tool"
FAKE_PORT = 18790
WAIT = 20.0


# ---------------------------------------------------------------- fake model server with modes
class ModalFake:
    """The shared fake for `cli`, whose tool-call reply is rewritten per `mode`:
    normal (as is), sleep (`sleep 60` instead of the echo), stall (never answered)."""

    def __init__(self, cli, port, mode):
        self.mode, self.stalled, self.closing = mode, None, False
        base = importlib.import_module(clis.FAKES[cli]).H
        fake = self

        class Handler(base):
            def _send(self, code, body, ctype="application/json"):
                data = body if isinstance(body, bytes) else json.dumps(body).encode()
                if ECHO in data and fake.mode == "stall":
                    return fake.hold(self)
                if fake.mode == "sleep":
                    data = data.replace(ECHO, b"sleep 60")
                super()._send(code, data, ctype)

        self.server = ThreadingHTTPServer(("127.0.0.1", port), Handler)
        self.server.escalate = False
        threading.Thread(target=self.server.serve_forever, daemon=True).start()

    def hold(self, handler):
        """Keep the request open, sending nothing, until the client closes its end."""
        self.stalled = time.monotonic()
        sock = handler.connection
        while not self.closing:
            if select.select([sock], [], [], 0.2)[0]:
                try:
                    if not sock.recv(1, socket.MSG_PEEK):
                        break
                except OSError:
                    break
        handler.close_connection = True

    def close(self):
        self.closing = True
        self.server.shutdown()
        self.server.server_close()


# ---------------------------------------------------------------- a terminal with bash -i in it
QUERIES = [(b"\x1b[6n", b"\x1b[1;1R"), (b"\x1b[c", b"\x1b[?62;22c"),  # cursor position, DA1
           (b"\x1b]10;?", b"\x1b]10;rgb:ffff/ffff/ffff\x1b\\"),          # colours (OSC 10/11)
           (b"\x1b]11;?", b"\x1b]11;rgb:0000/0000/0000\x1b\\")]
ANSI = re.compile(rb"\x1b\[[0-9;?<>=]*[ -/]*[@-~]|\x1b\][^\x07\x1b]*(\x07|\x1b\\)|\x1b[()][0-9A-Za-z]|\x1b[=>78]")


class Terminal:
    """A 120x40 pseudo-terminal whose shell is `bash -i`; answers the terminal queries TUIs send
    and keeps everything the screen received (as text without escapes) in `text`."""

    def __init__(self, env, cwd, log_path):
        self.pid, self.fd = pty.fork()
        if self.pid == 0:
            os.chdir(cwd)
            os.execvpe("bash", ["bash", "--norc", "--noprofile", "-i"], env)
        fcntl.ioctl(self.fd, termios.TIOCSWINSZ, struct.pack("HHHH", 40, 120, 0, 0))
        self.raw, self.text, self.last_output = b"", "", time.monotonic()
        self.log = open(log_path, "wb")
        self.lock, self.closed = threading.Lock(), False
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        while not self.closed:
            if not select.select([self.fd], [], [], 0.1)[0]:
                continue
            try:
                chunk = os.read(self.fd, 65536)
            except OSError:
                return
            if not chunk:
                return
            self.log.write(chunk)
            with self.lock:
                before, self.raw = self.raw, self.raw + chunk
                self.raw = self.raw[-16:]
                plain = re.sub(rb"\x1b\[\d*[CG]", b" ", chunk)  # cursor moves stand for spaces
                self.text += ANSI.sub(b"", plain).decode("utf-8", "replace")
                self.last_output = time.monotonic()
            for query, answer in QUERIES:
                for _ in range((before + chunk).count(query) - before.count(query)):
                    self.write(answer)

    def write(self, data):
        if self.closed:
            return
        try:
            os.write(self.fd, data if isinstance(data, bytes) else data.encode())
        except OSError:
            pass

    def type_line(self, line):
        """Type like a person: the text, a pause, then Enter (TUIs treat fast input as a paste)."""
        for piece in (line[i:i + 8] for i in range(0, len(line), 8)):
            self.write(piece)
            time.sleep(0.03)
        time.sleep(0.4)
        self.write(b"\r")

    def wait_quiet(self, quiet=1.5, limit=30.0):
        end = time.monotonic() + limit
        while time.monotonic() < end and time.monotonic() - self.last_output < quiet:
            time.sleep(0.1)

    def wait_text(self, pattern, limit=30.0, start=0):
        end = time.monotonic() + limit
        while time.monotonic() < end:
            with self.lock:
                if re.search(pattern, self.text[start:]):
                    return True
            time.sleep(0.1)
        return False

    def close(self):
        """Close the master side, as a terminal window does; the kernel then hangs up the shell.
        (A read still pending in another thread would keep it open, so the reader stops first.)"""
        if not self.closed:
            self.closed = True
            self.reader.join()
            os.close(self.fd)


# ---------------------------------------------------------------- per-CLI setup and hooks
LOGGER = r"""import json, os, sys, time
ppid, shell_pid, cmdline, shell_exe, shell_argv, out = sys.argv[1:7]
try:
    payload = json.load(sys.stdin)
except ValueError:
    payload = None
env = {k: os.environ[k] for k in ("WINDOWID", "TMUX", "TMUX_PANE") if k in os.environ}
with open(out, "a") as f:
    f.write(json.dumps({"t": time.time(), "ppid": int(ppid), "ppid_cmdline": cmdline,
                        "shell": shell_exe, "shell_argv": shell_argv, "env": env, "payload": payload}) + "\n")
"""


def log_hook_command(work):
    """A command for every event: runs in the CLI's own `sh -c`, so $PPID and $$ are measured
    there, then a small Python logger appends one JSON line to events.jsonl."""
    return (f"python3 {work}/logger.py \"$PPID\" \"$$\" \"$(tr '\\0' ' ' </proc/$PPID/cmdline)\" "
            f"\"$(readlink /proc/$$/exe)\" \"$(head -c 30 /proc/$$/cmdline | tr '\\0' ' ')\" "
            f"{work}/events.jsonl")


# Claude Code events that clis.py does not log but the captures show (or Tallyloft installs).
EXTRA_EVENTS = {"claude": ["PostToolUseFailure", "PermissionRequest", "SubagentStart", "PostCompact",
                           "PostToolBatch", "MessageDisplay", "StopFailure"]}


def add_hooks(cli, home, command):
    """Append one group running `command` to every event list (Tallyloft's groups stay)."""
    path = {"claude": ".claude/settings.json", "gemini": ".gemini/settings.json",
            "codex": ".codex/hooks.json"}[cli]
    path = os.path.join(home, path)
    data = json.load(open(path)) if os.path.exists(path) else {}
    hooks = data.setdefault("hooks", {})
    for event in clis.EVENTS[cli] + EXTRA_EVENTS.get(cli, []):
        group = {"matcher": "*" if event in clis.TOOL_EVENTS else "",
                 "hooks": [{"type": "command", "command": command}]}
        hooks.setdefault(event, []).append(group)
    with open(path, "w") as f:
        json.dump(data, f, indent=1)


def prepare(cli, home, proj, port):
    """The CLI's auth/provider settings (from clis.py) plus what an interactive start needs;
    returns (env, command line typed into the shell)."""
    env = {"claude": clis.setup_claude, "gemini": clis.setup_gemini,
           "codex": clis.setup_codex}[cli](home, proj, port)
    env.update(WINDOWID="12345", TMUX="/tmp/tmux-0/default,4242,0", TMUX_PANE="%7", TERM="xterm-256color")
    env.pop("NO_COLOR", None)
    binary = os.path.join(clis.BIN, cli)
    if cli == "claude":
        # No onboarding, no folder-trust or API-key questions; the tool may run unasked.
        clis._merge_json(os.path.join(home, ".claude.json"), {
            "hasCompletedOnboarding": True, "theme": "dark",
            "customApiKeyResponses": {"approved": [env["ANTHROPIC_API_KEY"][-20:]]},
            "projects": {proj: {"hasTrustDialogAccepted": True}}})
        clis._merge_json(os.path.join(home, ".claude", "settings.json"),
                         {"permissions": {"allow": ["Bash(sleep:*)", "Bash(echo:*)"]}})
        return env, binary
    if cli == "gemini":
        return env, binary + " --approval-mode yolo"
    return env, binary


def read_events(work):
    return clis.read_events(os.path.join(work, "events.jsonl"))


# ---------------------------------------------------------------- Tallyloft
def port_free(port):
    with socket.socket() as s:
        s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        try:
            s.bind(("127.0.0.1", port))
            return True
        except OSError:
            return False


def tally_env(home):
    """HOME for the hooks' settings; a runtime directory of the run's own for the status socket,
    so that `status` asks our `serve` and never another Tallyloft of this user."""
    runtime = os.path.join(os.path.dirname(home), "run")
    os.makedirs(runtime, mode=0o700, exist_ok=True)
    return dict(os.environ, HOME=home, XDG_RUNTIME_DIR=runtime, QT_QPA_PLATFORM="offscreen")


def tallyloft(opts, home, *args):
    return subprocess.run([opts.tallyloft, *args], env=tally_env(home), capture_output=True,
                          text=True, timeout=10)


def start_serve(opts, home, log):
    if not port_free(opts.port):
        sys.exit(f"error: 127.0.0.1:{opts.port} is already in use (is the Tallyloft app or "
                 "another `tallyloft serve` running?); stop it and try again")
    proc = subprocess.Popen([opts.tallyloft, "serve", "--port", str(opts.port)],
                            env=tally_env(home), stdout=log, stderr=subprocess.STDOUT,
                            stdin=subprocess.DEVNULL)
    end = time.monotonic() + 10
    while time.monotonic() < end and proc.poll() is None:
        if not port_free(opts.port) and sessions(opts, home) is not None:
            return proc
        time.sleep(0.1)
    proc.kill()
    sys.exit(f"error: `tallyloft serve --port {opts.port}` did not start listening "
             f"(exit code {proc.wait()}); see {log.name}")


def sessions(opts, home):
    """The sessions `tallyloft status --json` lists; [] when nothing runs, None on failure."""
    try:
        r = tallyloft(opts, home, "status", "--json")
    except subprocess.TimeoutExpired:
        return None
    try:
        return json.loads(r.stdout)["sessions"]
    except (ValueError, KeyError, TypeError):
        return [] if r.returncode == 1 else None


def find_session(found, session_id, cli):
    """Ours by id; failing that the only session of this CLI (each run has its own server)."""
    mine = [s for s in found if s.get("id") == session_id]
    return (mine or [s for s in found if s.get("cli") == cli] or [None])[0]


def describe(session):
    if session is None:
        return "gone"
    main = next((a for a in session.get("agents") or [] if a.get("main")), None)
    state = main["state"] if main else session.get("state")
    tool = f" {main['tool']}" if main and main.get("tool") else ""
    process = (session.get("process") or {}).get("status")
    return state + tool + (" leaving" if session.get("leaving") else "") + f" (process {process})"


def reached(session, awaited):
    if awaited == "leaving":
        return session is None or bool(session.get("leaving"))
    main = next((a for a in session.get("agents") or [] if a.get("main")), None) if session else None
    return main is not None and main.get("state") == "idle"


# ---------------------------------------------------------------- one run
def children(pid):
    kids = []
    try:
        for task in os.listdir(f"/proc/{pid}/task"):  # each thread has its own children
            with open(f"/proc/{pid}/task/{task}/children") as f:
                kids += [int(k) for k in f.read().split()]
    except OSError:
        pass
    return kids


def descendants(root):
    out, todo = [], [root]
    while todo:
        kids = children(todo.pop())
        out += kids
        todo += kids
    return out


def command_of(pid):
    try:
        with open(f"/proc/{pid}/cmdline", "rb") as f:
            return f.read().replace(b"\0", b" ").decode(errors="replace").strip()
    except OSError:
        return ""


def session_of(pid):
    try:
        with open(f"/proc/{pid}/stat") as f:
            return int(f.read().rsplit(")", 1)[1].split()[3])
    except (OSError, ValueError, IndexError):
        return None


def foreground(shell):
    """The CLI the user runs: follow the terminal's session down from its shell (the tools and
    Codex's app-server daemon run in sessions of their own)."""
    pid = shell
    while True:
        kids = [k for k in children(pid) if session_of(k) == shell]
        if not kids:
            return pid
        pid = kids[0]


def step(what, t0=[time.monotonic()]):
    print(f"  {time.monotonic() - t0[0]:6.1f}  {what}", file=sys.stderr, flush=True)


def wait_busy(term, fake, work, mode, limit=60.0):
    end = time.monotonic() + limit
    while time.monotonic() < end:
        if mode == "stall" and fake.stalled:
            return True
        if mode != "stall" and any(e["payload"] and e["payload"].get("hook_event_name")
                                   in TOOL_START for e in read_events(work)):
            return True
        time.sleep(0.1)
    return False


def run(cli, scenario, opts):
    """Returns (seconds or None, note)."""
    mode, action, awaited = SCENARIOS[scenario]
    work = tempfile.mkdtemp(prefix=f"realcli-{cli}-{scenario}-")
    home, proj = os.path.join(work, "home"), os.path.join(work, "proj")
    os.makedirs(home)
    with open(os.path.join(work, "logger.py"), "w") as f:
        f.write(LOGGER)
    env, command = prepare(cli, home, proj, opts.fake_port)
    serve = term = fake = None
    doomed = set()
    try:
        if not opts.hooks_only:
            r = tallyloft(opts, home, "hooks", "install", "--cli", cli)
            if r.returncode != 0:
                sys.exit(f"error: `tallyloft hooks install --cli {cli}` failed: {r.stderr.strip()}")
            serve = start_serve(opts, home, open(os.path.join(work, "serve.log"), "w"))
        add_hooks(cli, home, log_hook_command(work))
        fake = ModalFake(cli, opts.fake_port, "normal")
        term = Terminal(env, proj, os.path.join(work, "screen.log"))
        term.wait_quiet(0.5, 5)
        step("typing the command")
        term.type_line(command)
        term.wait_text(r"for shortcuts", 40)  # all three TUIs show this hint when ready
        term.wait_quiet(2.0, 20)
        if cli == "codex" and term.wait_text(r"Hooks need review", 15):
            # Codex runs hooks only once they are reviewed: pick "2. Trust all and continue".
            term.wait_quiet(1.0, 5)
            mark = len(term.text)
            term.write("2")
            term.wait_text(r"› 2\. Trust all", 5, mark)
            term.write("\r")
            term.wait_quiet(1.5, 20)
        fake.mode = mode
        step("submitting the prompt")
        term.type_line(PROMPT)
        if not wait_busy(term, fake, work, mode):
            return None, "never busy"
        step("busy")
        time.sleep(2.0)
        events = read_events(work)
        session_id = next((e["payload"].get("session_id") for e in events if e["payload"]), None)
        cli_pid = foreground(term.pid)
        cli_cmd = command_of(cli_pid)
        doomed.update(descendants(term.pid))
        before = None if opts.hooks_only else describe(find_session(sessions(opts, home) or [],
                                                                     session_id, cli))
        step(action + ("" if opts.hooks_only else f" (Tallyloft shows: {before})"))
        start = time.monotonic()
        if action == "ctrlc":
            mark = len(term.text)
            term.write(b"\x03")
            # Codex (its tasks live in an app-server daemon) asks what to do; take the default,
            # "1. Cancel task".
            if cli == "codex" and term.wait_text(r"Task is still running", 3, mark):
                time.sleep(0.3)
                term.write(b"\r")
        elif action == "kill9":
            os.kill(cli_pid, signal.SIGKILL)
        else:
            term.close()
        if opts.hooks_only:
            time.sleep(opts.watch)
            alive = [f"{pid} {command_of(pid)[:70]}" for pid in sorted(doomed) if command_of(pid)]
            return None, (report_events(read_events(work), start, len(events)) +
                          f"\nkilled: {cli_pid} ({cli_cmd[:70]})" * (action == "kill9") +
                          f"\nstill running {opts.watch:.0f} s after the action:\n  " + "\n  ".join(alive))
        session = "no answer"
        while time.monotonic() - start < WAIT:
            found = sessions(opts, home)
            if found is not None:
                session = find_session(found, session_id, cli)
                if reached(session, awaited):
                    return time.monotonic() - start, f"{before} -> {describe(session)}"
            time.sleep(0.1)
        return None, f"{before} -> {session if isinstance(session, str) else describe(session)}"
    finally:
        if term:
            doomed.update(descendants(term.pid) + [term.pid])
            term.close()
        for pid in doomed:
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        if term:
            os.waitpid(term.pid, 0)
        if serve:
            serve.terminate()
            serve.wait()
        if fake:
            fake.close()
        if opts.keep:
            print(f"  kept {work}", file=sys.stderr)
        else:
            shutil.rmtree(work, ignore_errors=True)


def report_events(events, start, seen):
    """--hooks-only: the hooks before and after the action, with what each hook's shell saw."""
    wall = time.time() - (time.monotonic() - start)
    lines = []
    for i, e in enumerate(events):
        p = e["payload"] or {}
        name = p.get("hook_event_name", "?")
        extra = p.get("tool_input") or p.get("reason") or p.get("prompt_response") or ""
        lines.append(f"{e['t'] - wall:+7.2f} {'*' if i >= seen else ' '} {name:<20} "
                     f"ppid={e['ppid']} ({e['ppid_cmdline'][:60].strip()}) sh={e['shell']} ({e['shell_argv']}) "
                     f"env={e['env']} {json.dumps(extra)[:80]}")
    return "\n".join(["hooks (seconds after the action; * = after it):"] + lines)


def main():
    ap = argparse.ArgumentParser(
        description=__doc__.split("\n\n")[0],
        epilog="Scenarios: " + ", ".join(SCENARIOS) + ". Each run takes 20-40 s.")
    ap.add_argument("--cli", action="append", choices=CLIS,
                    help="only this CLI (repeatable; default: all three)")
    ap.add_argument("--scenario", action="append", choices=list(SCENARIOS),
                    help="only this scenario (repeatable; default: all four)")
    ap.add_argument("--tallyloft", default="/work/main/build/dev/src/tallyloft",
                    help="the tallyloft binary (default: %(default)s)")
    ap.add_argument("--port", type=int, default=51789, help="Tallyloft's port (default 51789)")
    ap.add_argument("--fake-port", type=int, default=FAKE_PORT,
                    help="port of the fake model server (default %(default)s)")
    ap.add_argument("--hooks-only", action="store_true",
                    help="no Tallyloft: print the hooks each run fired instead of timings")
    ap.add_argument("--watch", type=float, default=8.0,
                    help="--hooks-only: seconds to watch after the action (default 8)")
    ap.add_argument("--keep", action="store_true", help="keep each run's temporary directory")
    opts = ap.parse_args()
    if not opts.hooks_only and not os.access(opts.tallyloft, os.X_OK):
        sys.exit(f"error: no tallyloft binary at {opts.tallyloft} (build it or pass --tallyloft)")
    for cli in opts.cli or CLIS:
        if not os.access(os.path.join(clis.BIN, cli), os.X_OK):
            sys.exit(f"error: {cli} not found in {clis.BIN}; install the CLIs with npm "
                     "install --prefix /tmp/realcli @anthropic-ai/claude-code "
                     "@google/gemini-cli @openai/codex")
    if not port_free(opts.fake_port):
        sys.exit(f"error: 127.0.0.1:{opts.fake_port} is in use; pass --fake-port")
    rows = []
    for cli in opts.cli or CLIS:
        for scenario in opts.scenario or SCENARIOS:
            print(f"{cli} {scenario} ...", file=sys.stderr, flush=True)
            seconds, note = run(cli, scenario, opts)
            if opts.hooks_only:
                print(f"== {cli} {scenario}\n{note}", flush=True)
                continue
            awaited = SCENARIOS[scenario][2]
            took = f"{seconds:.1f} s" if seconds is not None else f"not within {WAIT:.0f} s"
            rows.append((cli, scenario, f"{awaited}: {took}", note))
    if rows:
        rows.insert(0, ("cli", "scenario", "seconds to state", "Tallyloft at the action -> last"))
        widths = [max(len(r[i]) for r in rows) for i in range(3)] + [0]
        for row in rows:
            print("  ".join(c.ljust(w) for c, w in zip(row, widths)).rstrip())
    return 0


if __name__ == "__main__":
    sys.exit(main())
