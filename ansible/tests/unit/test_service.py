# What the service and service_info modules decide, over a fake server that
# models a few services: idempotent started/stopped, restarted always changed,
# check mode sending nothing that changes a service, dependants from DEPS or
# "not known" without it, start_mode failing clearly when UPDATE changes
# nothing, and the server's errors passed on with their text.
import pytest

from ansible_collections.tenmark.halvexa.plugins.module_utils import halvexa_protocol as hp
from ansible_collections.tenmark.halvexa.plugins.module_utils import halvexa_service as hs

from conftest import GREETING
import replies as r

STATUS_TEXT = {"Running": r.RUNNING, "Stopped": r.STOPPED}


class Model(object):
    """Services with a state, a start type and running dependants; a server that
    knows DEPS or not, and one whose UPDATE works or only echoes."""

    def __init__(self, deps_known=True, update_works=False, refuse=None):
        self.services = {"Spooler": ["Running", "Automatic", ["Fax"]],
                         "Fax": ["Running", "Demand", []],
                         "BITS": ["Stopped", "Demand", []]}
        self.deps_known = deps_known
        self.update_works = update_works
        self.refuse = refuse  # a command word answered with 550
        self.lines = []

    def find(self, name):
        for key in self.services:
            if key.lower() == name.lower():
                return key
        return None

    def __call__(self, line):
        self.lines.append(line)
        words = line.split(" ")
        verb = words[0].upper()
        name = self.find(words[1]) if len(words) > 1 else None
        if verb == self.refuse:
            return ("\n\r550-Permission denied: %s needs Allow%s\n\r" % (verb, verb.title())
                    ).encode() + b":: "
        if verb == "LIST":
            return r.list_reply([(n, s[0], s[1], "LocalSystem")
                                 for n, s in self.services.items()])
        if verb == "STATUS":
            if name is None:
                return r.status_reply("Unable to determine status.")
            return r.status_reply(STATUS_TEXT[self.services[name][0]])
        if verb == "DEPS":
            if not self.deps_known:
                return r.unknown_command(words[0])
            return r.deps_reply([(d, d + " Service", "Running") for d in self.services[name][2]
                                 if self.services[d][0] == "Running"])
        if verb == "STOP":
            if self.services[name][0] == "Stopped":
                return r.stop_reply(words[1], "The service has not been started.")
            for d in self.services[name][2]:
                self.services[d][0] = "Stopped"
            self.services[name][0] = "Stopped"
            return r.stop_reply(words[1])
        if verb == "START":
            if self.services[name][0] == "Running":
                return r.start_reply(words[1], "An instance of the service is already running.")
            if self.services[name][1] == "Disabled":
                return r.start_reply(words[1], "The service has been disabled.")
            self.services[name][0] = "Running"
            return r.start_reply(words[1])
        if verb == "RSTRT":
            was = self.services[name][0]
            self.services[name][0] = "Running"
            return r.restart_reply(words[1], stop="Service Stopped..." if was == "Running"
                                   else "The service has not been started.")
        if verb == "UPDATE":
            if not self.update_works:
                return b"Updating Service\n\r"
            listed = {"Automatic": "Automatic", "Delayed": "Automatic", "Manual": "Demand",
                      "Disabled": "Disabled"}[words[3]]
            self.services[name][1] = listed
            return ("Start type of %s set to %s\n\r" % (name, words[3])).encode() + b":: "
        return r.unknown_command(words[0])

    def changing_lines(self):
        return [l for l in self.lines if l.split(" ")[0].upper() in ("STOP", "START", "RSTRT",
                                                                      "UPDATE")]


@pytest.fixture
def server(fake_server):
    def start(model):
        return fake_server([("send", GREETING), ("serve", model)])
    return start


def run(server, model, *args, **kwargs):
    srv = server(model)
    with hp.open_session("127.0.0.1", srv.port, 5) as session:
        return hs.ensure_service(session, *args, **kwargs)


@pytest.mark.parametrize("name, state, before, after, changed, sent", [
    ("Spooler", "stopped", "running", "stopped", True, ["STOP Spooler"]),
    ("BITS", "stopped", "stopped", "stopped", False, []),
    ("BITS", "started", "stopped", "running", True, ["START BITS"]),
    ("Spooler", "started", "running", "running", False, []),
    ("Spooler", "restarted", "running", "running", True, ["RSTRT Spooler"]),
    ("BITS", "restarted", "stopped", "running", True, ["RSTRT BITS"]),
    ("spooler", None, "running", "running", False, []),
])
def test_states(server, name, state, before, after, changed, sent):
    model = Model()
    result = run(server, model, name, state)
    assert (result["before"], result["state"], result["changed"]) == (before, after, changed)
    assert model.changing_lines() == sent
    assert result["name"] == model.find(name)


def test_second_run_changes_nothing(server):
    model = Model()
    first = run(server, model, "Spooler", "stopped")
    second = run(server, model, "Spooler", "stopped")
    assert (first["changed"], second["changed"]) == (True, False)
    assert model.changing_lines() == ["STOP Spooler"]


@pytest.mark.parametrize("deps_known, expected", [(True, ["Fax"]), (False, None)])
def test_stop_reports_dependants(server, deps_known, expected):
    model = Model(deps_known=deps_known)
    result = run(server, model, "Spooler", "stopped")
    assert result["dependants_stopped"] == expected
    assert model.services["Spooler"][0] == "Stopped"


@pytest.mark.parametrize("deps_known, name, state, expected_state, deps", [
    (True, "Spooler", "stopped", "stopped", ["Fax"]),
    (False, "Spooler", "stopped", "stopped", None),
    (True, "BITS", "started", "running", []),
    (True, "Spooler", "restarted", "running", ["Fax"]),
])
def test_check_mode_changes_nothing(server, deps_known, name, state, expected_state, deps):
    model = Model(deps_known=deps_known)
    before = {k: list(v[:2]) for k, v in model.services.items()}
    result = run(server, model, name, state, check_mode=True)
    assert result["changed"] is True
    assert result["state"] == expected_state
    assert result["dependants_stopped"] == deps
    assert model.changing_lines() == []
    assert {k: list(v[:2]) for k, v in model.services.items()} == before


def test_start_mode_fails_clearly_when_update_changes_nothing(server):
    model = Model(update_works=False)
    with pytest.raises(hs.StartModeUnchanged) as caught:
        run(server, model, "BITS", start_mode="disabled")
    assert "did not change the start mode of BITS to disabled" in caught.value.text
    assert "UpdateEnabled" in caught.value.text
    assert "LIST still shows Demand" in caught.value.text


@pytest.mark.parametrize("start_mode, listed, changed", [
    ("disabled", "Disabled", True), ("manual", "Demand", False), ("auto", "Automatic", True),
    ("delayed", "Automatic", True),
])
def test_start_mode_set_when_server_can(server, start_mode, listed, changed):
    model = Model(update_works=True)
    result = run(server, model, "BITS", start_mode=start_mode)
    assert result["changed"] is changed
    assert result["start_mode"] == start_mode
    assert model.services["BITS"][1] == listed


def test_start_mode_in_check_mode_sends_no_update(server):
    model = Model(update_works=False)
    result = run(server, model, "BITS", start_mode="disabled", check_mode=True)
    assert (result["changed"], result["start_mode"]) == (True, "disabled")
    assert model.changing_lines() == []


def test_control_failure_carries_code_and_text(server):
    model = Model()
    model.services["BITS"][1] = "Disabled"
    with pytest.raises(hp.ControlError) as caught:
        run(server, model, "BITS", "started")
    assert (caught.value.code, caught.value.text) == (1058, "The service has been disabled.")


def test_refused_command_fails_with_server_text(server):
    with pytest.raises(hp.CommandError) as caught:
        run(server, Model(refuse="STOP"), "Spooler", "stopped")
    assert caught.value.code == 550
    assert caught.value.text == "550-Permission denied: STOP needs AllowStop"


def test_unknown_service(server):
    with pytest.raises(hs.ServiceNotFound) as caught:
        run(server, Model(), "NoSuch", "started")
    assert "NoSuch" in caught.value.text


def test_service_facts(server):
    srv = server(Model())
    with hp.open_session("127.0.0.1", srv.port, 5) as session:
        services, missing = hs.service_facts(session, ["bits", "NoSuch", "Spooler"])
    assert services == [
        {"name": "BITS", "display_name": None, "state": "stopped", "start_mode": "manual",
         "logon": "LocalSystem"},
        {"name": "Spooler", "display_name": None, "state": "running", "start_mode": "auto",
         "logon": "LocalSystem"}]
    assert missing == ["NoSuch"]
    srv2 = server(Model())
    with hp.open_session("127.0.0.1", srv2.port, 5) as session:
        services, missing = hs.service_facts(session, [])
    assert [s["name"] for s in services] == ["Spooler", "Fax", "BITS"] and missing == []
