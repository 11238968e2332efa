#!/usr/bin/env python3
"""Tests of realcli-interrupts.py's machinery (no CLI or real Tallyloft needed):
python3 -m unittest discover -s tools -p 'test_realcli*'"""
import contextlib, importlib.util, json, os, shutil, socket, stat, tempfile, time, types, unittest
import http.client

HERE = os.path.dirname(os.path.abspath(__file__))
spec = importlib.util.spec_from_file_location("realcli",
                                              os.path.join(HERE, "realcli-interrupts.py"))
rc = importlib.util.module_from_spec(spec)
spec.loader.exec_module(rc)

# A main-loop request as each CLI sends it: the shell tool declared, no tool result yet.
REQUESTS = {
    "claude": ("/v1/messages", {"model": "m", "stream": True, "tools": [{"name": "Bash"}],
                                "messages": [{"role": "user", "content": "hi"}]}),
    "gemini": ("/v1beta/models/m:streamGenerateContent?alt=sse",
               {"tools": [{"functionDeclarations": [{"name": "run_shell_command"}]}],
                "contents": [{"role": "user", "parts": [{"text": "hi"}]}]}),
    "codex": ("/v1/responses", {"model": "m", "stream": True,
                                "tools": [{"type": "function", "name": "exec_command"}],
                                "input": [{"role": "user", "content": "hi"}]}),
}


def post(port, path, body, timeout=5.0):
    conn = http.client.HTTPConnection("127.0.0.1", port, timeout=timeout)
    try:
        conn.request("POST", path, json.dumps(body), {"Content-Type": "application/json"})
        return conn.getresponse().read()
    finally:
        conn.close()


NO_REALCLI = (rc.clis is None, "no scripted model services beside the checkout")


@unittest.skipIf(*NO_REALCLI)
class ModalFakeTest(unittest.TestCase):
    def test_sleep_mode_turns_each_clis_tool_call_into_sleep(self):
        for cli, (path, body) in REQUESTS.items():
            fake = rc.ModalFake(cli)
            try:
                self.assertIn(rc.ECHO, post(fake.port, path, body), cli)
                fake.mode = "sleep"
                reply = post(fake.port, path, body)
                self.assertIn(b"sleep 60", reply, cli)
                self.assertNotIn(rc.ECHO, reply, cli)
            finally:
                fake.close()

    def test_stall_holds_only_the_tool_call_until_the_client_hangs_up(self):
        fake = rc.ModalFake("gemini")
        fake.mode = "stall"
        try:  # the model router's side request (no tools) is answered at once
            post(fake.port, "/v1beta/models/r:generateContent", {"contents": []})
            self.assertFalse(fake.stalled)
            path, body = REQUESTS["gemini"]
            with self.assertRaises(socket.timeout):
                post(fake.port, path, body, timeout=1.0)
            self.assertTrue(fake.stalled)
        finally:
            started = time.monotonic()
            fake.close()
            self.assertLess(time.monotonic() - started, 3)


class TerminalTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, self.dir, True)
        self.term = rc.Terminal(dict(os.environ, PS1="$ "), self.dir, os.path.join(self.dir, "log"))
        self.term.wait_quiet(0.3, 5)
        self.reaped = False

    def tearDown(self):
        if not self.reaped:
            for pid in rc.descendants(self.term.pid) + [self.term.pid]:
                with contextlib.suppress(ProcessLookupError):
                    os.kill(pid, 9)
            self.term.close()
            os.waitpid(self.term.pid, 0)
        self.term.log.close()

    def test_answers_the_cursor_position_query(self):
        self.term.type_line(r"""printf '\033[6n'; read -rs -d R reply; echo "at<${reply#*[}>" """)
        self.assertTrue(self.term.wait_text(r"at<1;1>", 5), self.term.text[-300:])

    def test_column_moves_read_as_spaces(self):
        self.term.type_line(r"printf '\033[3G?\033[5Gfor\033[9Gshortcuts\n'")
        self.assertTrue(self.term.wait_text(r"\? for shortcuts", 5), self.term.text[-300:])

    def test_close_hangs_up_the_shell(self):
        self.term.close()
        self.reaped = rc.until(lambda: os.waitpid(self.term.pid, os.WNOHANG)[0], 5)
        self.assertTrue(self.reaped)

    def test_foreground_is_the_job_not_what_it_starts_in_a_session_of_its_own(self):
        self.term.type_line("python3 -c \"import subprocess, time; subprocess.Popen(['sleep', "
                            "'31'], start_new_session=True); time.sleep(30)\"")
        self.assertTrue(rc.until(lambda: any("sleep 31" in (rc.proc_field(p, "cmdline") or "")
                                             for p in rc.descendants(self.term.pid)), 5))
        self.assertIn("time.sleep(30)", rc.proc_field(rc.foreground(self.term.pid), "cmdline"))


class StatusTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, self.dir, True)
        self.home = os.path.join(self.dir, "home")
        os.makedirs(self.home)
        self.binary = os.path.join(self.dir, "tallyloft")
        self.opts = types.SimpleNamespace(tallyloft=self.binary, port=51789,
                                          codex_bypass_trust=False)

    def fake_tallyloft(self, script):
        with open(self.binary, "w") as f:
            f.write("#!/bin/sh\n" + script)
        os.chmod(self.binary, 0o755)

    def test_sessions_come_from_our_own_runtime_directory(self):
        self.fake_tallyloft('printf \'{"sessions":[{"id":"%s","cwd":"%s"}]}\' "$HOME" '
                            '"$XDG_RUNTIME_DIR"\n')
        [session] = rc.sessions(self.opts, self.home)
        self.assertEqual(session["id"], self.home)
        self.assertTrue(session["cwd"].startswith(self.dir))
        self.assertEqual(stat.S_IMODE(os.stat(session["cwd"]).st_mode), 0o700)

    def test_no_server_is_no_answer_not_an_empty_crew(self):
        self.fake_tallyloft("echo 'Tallyloft is not running.'; exit 1\n")
        self.assertIsNone(rc.sessions(self.opts, self.home))

    def test_serve_that_never_comes_up_stops_the_tool(self):
        self.fake_tallyloft("exit 1\n")
        with self.assertRaisesRegex(SystemExit, "did not come up"), open(os.devnull, "w") as log:
            rc.start_serve(self.opts, self.home, log)

    @unittest.skipIf(*NO_REALCLI)
    def test_logging_hook_follows_tallyloft_whose_hooks_stay_as_installed(self):
        hook = "curl --unix-socket /x/run/tallyloft/hook.sock http://localhost/event"
        self.fake_tallyloft('mkdir -p "$HOME/.claude"; printf \'{"hooks":{"PreToolUse":[{"matcher":'
                            '"*","hooks":[{"type":"command","command":"' + hook + '"}'
                            ']}]}}\' > "$HOME/.claude/settings.json"\n')
        rc.prepare("claude", self.home, os.path.join(self.dir, "proj"), self.dir, 18000, self.opts)
        with open(os.path.join(self.home, ".claude", "settings.json")) as f:
            groups = json.load(f)["hooks"]["PreToolUse"]
        self.assertEqual(groups[0]["hooks"][0]["command"], hook)
        self.assertIn("logger.py", groups[1]["hooks"][0]["command"])


class StateTest(unittest.TestCase):
    def session(self, main="working", sub="idle", leaving=False):
        return {"id": "s", "cli": "codex", "state": main, "leaving": leaving,
                "agents": [{"main": False, "state": sub}, {"main": True, "state": main}]}

    def test_idle_means_the_main_agent(self):
        self.assertFalse(rc.reached(self.session(main="working", sub="idle"), "idle"))
        self.assertTrue(rc.reached(self.session(main="idle", sub="working"), "idle"))
        self.assertFalse(rc.reached(None, "idle"))

    def test_leaving_or_gone(self):
        self.assertTrue(rc.reached(None, "leaving"))
        self.assertTrue(rc.reached(self.session(leaving=True), "leaving"))
        self.assertFalse(rc.reached(self.session(main="done"), "leaving"))

    def test_session_by_id_before_cli(self):
        other, mine = dict(self.session(), id="x"), dict(self.session(), id="mine", cli="claude")
        self.assertIs(rc.find_session([other, mine], "mine", "codex"), mine)
        self.assertIs(rc.find_session([other], "mine", "codex"), other)
        self.assertIsNone(rc.find_session([other], "mine", "gemini"))


if __name__ == "__main__":
    unittest.main()
