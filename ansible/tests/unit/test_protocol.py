# The protocol client over a scripted fake server: the greeting, AUTH, each
# reply form and its parsing, numbered errors, cut-off replies, time-outs and
# closed connections.
import socket

import pytest

from ansible_collections.tenmark.halvexa.plugins.module_utils import halvexa_protocol as hp

from conftest import GREETING
import replies as r


def session(server, timeout=5):
    s = hp.Session("127.0.0.1", server.port, timeout)
    s.connect()
    return s


def test_greeting_fields(fake_server):
    server = fake_server([("send", GREETING)])
    with session(server) as s:
        assert s.greeting == {"version": "3.5.1.1", "server_name": "TESTHOST",
                              "account": "LocalSystem",
                              "date": "10 December 2026 12:00:00 PM"}


def test_greeting_sent_in_pieces(fake_server):
    server = fake_server([("send", GREETING[:7]), ("send", GREETING[7:-2]),
                          ("send", GREETING[-2:])])
    with session(server) as s:
        assert s.greeting["version"] == "3.5.1.1"


@pytest.mark.parametrize("data, error, code, text", [
    # A server at its client limit says so and closes.
    (b"421-Too many connections, try again later\n\r", hp.CommandError, 421,
     "421-Too many connections, try again later"),
    (b"", hp.ClosedError, None, "before the greeting"),
    (GREETING[:40], hp.ClosedError, None, "before the greeting was complete"),
    (b"SSH-2.0-other\r\n\n\r:: ", hp.ReplyError, None, "not a Halvexa server"),
])
def test_greeting_failures(fake_server, data, error, code, text):
    server = fake_server([("send", data), ("close",)])
    with pytest.raises(error) as caught:
        session(server)
    assert caught.value.code == code
    assert text in caught.value.text


def test_greeting_time_out(fake_server):
    server = fake_server([("send", GREETING[:20]), ("hang",)])
    with pytest.raises(hp.TimeoutError_) as caught:
        session(server, timeout=0.3)
    assert "timed out after 0.3 s waiting for the greeting" in caught.value.text


def test_connect_refused():
    probe = socket.socket()
    probe.bind(("127.0.0.1", 0))
    port = probe.getsockname()[1]
    probe.close()  # nothing listens there now
    with pytest.raises(hp.ConnectError) as caught:
        hp.Session("127.0.0.1", port, 2).connect()
    assert "cannot connect to 127.0.0.1:%d" % port in caught.value.text


@pytest.mark.parametrize("reply, error, code", [
    (b"230-Logged in as Admin\n\r:: ", None, None),
    (b"530-Login incorrect\n\r:: ", hp.LoginError, 530),
    (b"501-Usage: AUTH <user> <password>\n\r:: ", hp.LoginError, 501),
])
def test_login(fake_server, reply, error, code):
    server = fake_server([("send", GREETING), ("reply", {"AUTH": reply})])
    s = session(server)
    if error is None:
        s.login("Admin", "pw")
    else:
        with pytest.raises(error) as caught:
            s.login("Admin", "pw")
        assert caught.value.code == code
        assert caught.value.text == reply.decode()[:-5]
    s.close()
    assert server.received[0] == "AUTH Admin pw"


def test_login_refused_and_closed(fake_server):
    server = fake_server([("send", GREETING), ("reply", {"AUTH": (
        b"530-Login incorrect\n\r421-Too many failed logins, closing the connection\n\r")}),
        ("close",)])
    s = session(server)
    with pytest.raises(hp.LoginError) as caught:
        s.login("Admin", "bad")
    assert (caught.value.code, caught.value.text) == (530, "530-Login incorrect")


def test_command_returns_reply_without_prompt_and_quits(fake_server):
    server = fake_server([("send", GREETING), ("reply", {"STIME": b"10 december 2026\n\r:: "})])
    with session(server) as s:
        assert s.command("STIME") == "10 december 2026"
    assert server.received == ["STIME", "QUIT"]


@pytest.mark.parametrize("data, error, text", [
    (b"Retrieving Status\n\r", hp.ClosedError, "before the reply to STATUS was complete"),
    (b"", hp.ClosedError, "closed by the server before the reply to STATUS"),
    (b"\n\r550-Permission denied: STATUS needs AllowStatus\n\r", hp.CommandError,
     "550-Permission denied: STATUS needs AllowStatus"),
    (b"\n\r\n\r421-Idle time-out, closing the connection\n\r", hp.CommandError,
     "421-Idle time-out, closing the connection"),
])
def test_cut_off_replies(fake_server, data, error, text):
    server = fake_server([("send", GREETING), ("reply", {"": data}), ("close",)])
    with session(server) as s:
        with pytest.raises(error) as caught:
            s.command("STATUS Spooler")
    assert text in caught.value.text


def test_reply_time_out(fake_server):
    server = fake_server([("send", GREETING), ("reply", {"": b"Stopping Service...X\n\r"}),
                          ("hang",)])
    s = session(server, timeout=0.3)
    with pytest.raises(hp.TimeoutError_) as caught:
        s.command("STOP X")
    assert "timed out after 0.3 s waiting for the reply to STOP" in caught.value.text
    s.close()


@pytest.mark.parametrize("data", [b"Updating Service\n\r", b"Updating Service\n\r:: "])
def test_update_reply_with_or_without_prompt(fake_server, data):
    server = fake_server([("send", GREETING), ("reply", {"UPDATE": data})])
    with session(server, timeout=2) as s:
        assert hp.trimmed_lines(s.command("UPDATE X StartType Manual", update=True)) == [
            "Updating Service"]


def test_line_end_refused(fake_server):
    server = fake_server([("send", GREETING)])
    with session(server) as s:
        with pytest.raises(hp.ReplyError):
            s.command("STATUS X\r\nSTOP Y")


# Parsing, on the texts the server sends (prompt removed as Session.command does).

def body(reply):
    assert reply.endswith(b":: ")
    return reply[:-3].decode("latin-1")


def test_parse_list_rows():
    rows = [("Spooler", "Running", "Automatic", "LocalSystem"),
            ("A Name With Blanks", "Stopped", "Demand", "NT AUTHORITY\\LocalService"),
            ("N" * 40, "Paused", "Disabled", ""),
            ("Running", "Stopping", "Unknown", "x")]
    services = hp.parse_list(body(r.list_reply(rows)))
    assert [(s["name"], s["state"], s["start_type"], s["account"]) for s in services] == rows


def test_parse_list_empty_and_manager_error():
    assert hp.parse_list(body(r.list_reply([]))) == []
    text = body(r.list_reply([]))[:] + "The requested access was denied.\n\r"
    with pytest.raises(hp.ControlError) as caught:
        hp.parse_list(text)
    assert caught.value.code == 5


@pytest.mark.parametrize("text, problem", [
    ("Server: X\n\r", "no column header"),
    (body(r.list_reply([]))[:] + " broken row\n\r", "LIST row not understood"),
])
def test_parse_list_bad_forms(text, problem):
    with pytest.raises(hp.ReplyError) as caught:
        hp.parse_list(text)
    assert problem in caught.value.text


@pytest.mark.parametrize("text, state", list({
    "The service is stopped.": "Stopped", "The service is starting.": "Starting",
    "The service is stopping.": "Stopping", "The service is running.": "Running",
    "The service continue is pending.": "Continuing",
    "The service pause is pending.": "Pausing", "The service is paused.": "Paused",
    "Unable to determine status.": "Unknown"}.items()))
def test_parse_status(text, state):
    assert hp.parse_status(body(r.status_reply(text))) == state


@pytest.mark.parametrize("text, error", [
    ("Retrieving Status\n\rSomething else\n\r", hp.ReplyError),
    ("Retrieving Status\n\r", hp.ReplyError),
    ("\n\r550-Permission denied: STATUS needs AllowStatus\n\r", hp.CommandError),
])
def test_parse_status_failures(text, error):
    with pytest.raises(error):
        hp.parse_status(text)


@pytest.mark.parametrize("verb, reply, code", [
    ("STOP", r.stop_reply("Spooler"), None),
    ("START", r.start_reply("Spooler"), None),
    ("STOP", r.stop_reply("Spooler", "The service has not been started."), 1062),
    ("START", r.start_reply("Spooler", "An instance of the service is already running."), 1056),
    ("START", r.start_reply("Spooler", "Service does not exist."), 1060),
    ("STOP", r.stop_reply("Spooler", "The specified service error is not known for error code "
                                     "1460."), 1460),
    ("STOP", r.stop_reply("Spooler", "Some newer text"), 0),
])
def test_parse_control(verb, reply, code):
    if code is None:
        assert hp.parse_control(verb, body(reply)) == "Spooler"
    else:
        with pytest.raises(hp.ControlError) as caught:
            hp.parse_control(verb, body(reply))
        assert caught.value.code == code
        assert caught.value.text == hp.trimmed_lines(body(reply))[1]


def test_parse_control_bad_form():
    with pytest.raises(hp.ReplyError):
        hp.parse_control("STOP", body(r.start_reply("X")))


def test_parse_restart():
    assert hp.parse_restart(body(r.restart_reply("X"))) is None
    stop = hp.parse_restart(body(r.restart_reply("X", stop="The service has not been started.")))
    assert stop.code == 1062
    with pytest.raises(hp.ControlError) as caught:
        hp.parse_restart(body(r.restart_reply("X", start="The service has been disabled.")))
    assert caught.value.code == 1058


def test_parse_restart_with_dependants_started_again():
    started = ["Dependent service started: B", "Dependent service started: A"]
    assert hp.parse_restart(body(r.restart_reply("X", dependants=started))) is None
    failed = "Dependent service not started: A, error 1069: The service could not be logged on."
    with pytest.raises(hp.ControlError) as caught:
        hp.parse_restart(body(r.restart_reply("X", dependants=[started[0], failed])))
    assert (caught.value.code, caught.value.text) == (1069, failed)
    for bad in ["something else", "Dependent service not started: A, error x: y"]:
        with pytest.raises(hp.ReplyError):
            hp.parse_restart(body(r.restart_reply("X", dependants=[bad])))


def test_parse_deps():
    rows = [("Fax", "Fax Service", "Running"), ("Agent", "SQL Agent", "Running")]
    assert hp.parse_deps(body(r.deps_reply(rows))) == ["Fax", "Agent"]
    assert hp.parse_deps(body(r.deps_reply([]))) == []
    with pytest.raises(hp.CommandError) as caught:
        hp.parse_deps(body(r.unknown_command("DEPS")))
    assert (caught.value.code, caught.value.text) == (500, "500-Unknown command 'DEPS'")


@pytest.mark.parametrize("line, expected", [
    ("500-Unknown command 'X'", (500, "500-Unknown command 'X'")),
    ("311-STOP", None),
    ("50-x", None),
    ("abc-x", None),
    ("550 no dash", None),
])
def test_numbered_error(line, expected):
    assert hp.numbered_error(line) == expected


def test_lines_of_server_line_ends():
    assert hp.lines_of("a\n\rb\n\r") == ["a", "b", ""]
    assert hp.lines_of("a\nb") == ["a", "b"]
