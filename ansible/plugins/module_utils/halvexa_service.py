# -*- coding: utf-8 -*-
# Copyright: Tenmark Software
# GNU General Public License v3.0+ (see https://www.gnu.org/licenses/gpl-3.0.txt)
"""What the service and service_info modules do, apart from Ansible's plumbing.

ensure_service() brings one service to the asked state and start mode over an
open halvexa_protocol.Session and says what it changed (or, in check mode,
what it would change); service_facts() reads LIST. Both raise
halvexa_protocol.HalvexaError subclasses, which the modules turn into a failed
task with the server's text. Pure standard library.
"""

from __future__ import absolute_import, division, print_function

__metaclass__ = type

from ansible_collections.tenmark.halvexa.plugins.module_utils import halvexa_protocol as hp

# LIST's start-type words and the module's start_mode words.
START_MODE_OF = {
    "Automatic": "auto",
    "Demand": "manual",
    "Disabled": "disabled",
    "Boot": "boot",
    "System": "system",
    "Unknown": "unknown",
}
# start_mode and the value UPDATE <service> StartType takes.
UPDATE_VALUE_OF = {
    "auto": "Automatic",
    "delayed": "Delayed",
    "manual": "Manual",
    "disabled": "Disabled",
}
# start_mode and the LIST word the service shows after UPDATE (a delayed start
# is listed as Automatic).
LISTED_AS = {"auto": "Automatic", "delayed": "Automatic", "manual": "Demand",
             "disabled": "Disabled"}


def connection_options():
    """The definitions of the options every module takes to reach a server
    (documented by the doc fragment tenmark.halvexa.connection)."""
    return dict(
        host=dict(type="str", required=True),
        port=dict(type="int", default=hp.DEFAULT_PORT),
        user=dict(type="str"),
        password=dict(type="str", no_log=True),
        timeout=dict(type="int", default=120),
    )


# A password makes sense only with the user it belongs to.
CONNECTION_REQUIRED_BY = dict(password=["user"])


def module_session(params):
    """A session with the server the module's connection options name (a
    context manager, see halvexa_protocol.open_session)."""
    return hp.open_session(params["host"], params["port"], params["timeout"], params["user"],
                           params["password"])


class ServiceNotFound(hp.HalvexaError):
    """The server does not list the service or cannot read its state."""


class StartModeUnchanged(hp.HalvexaError):
    """UPDATE was answered but the start type stayed as it was."""


def state_name(word):
    """A LIST/STATUS state word as the module reports it ("Running" -> "running")."""
    return word.lower()


def list_services(session):
    """LIST's rows, as halvexa_protocol.parse_list gives them."""
    return hp.parse_list(session.command("LIST"))


def find_service(services, name):
    """The row of `name` (matched ignoring case, as the manager does) or None."""
    for row in services:
        if row["name"].lower() == name.lower():
            return row
    return None


def service_status(session, name):
    """The state word STATUS gives; ServiceNotFound when it is "Unknown"."""
    state = hp.parse_status(session.command("STATUS %s" % name))
    if state == "Unknown":
        raise ServiceNotFound("service %s: Unable to determine status. (it does not exist or "
                              "its state cannot be read)" % name)
    return state


def dependants(session, name):
    """The running dependants that a stop of `name` would stop, from DEPS; None
    when the server does not know DEPS (it answers "500-Unknown command")."""
    try:
        return hp.parse_deps(session.command("DEPS %s" % name))
    except hp.CommandError as e:
        if e.code == 500:
            return None
        raise


def _set_start_mode(session, name, start_mode):
    """UPDATE's the start type and checks through LIST that it took. Raises
    CommandError for a numbered reply line, ControlError for a system error
    text, StartModeUnchanged when the server answered but nothing changed (a
    server without UpdateEnabled answers "Updating Service" and does nothing)."""
    reply = session.command("UPDATE %s StartType %s" % (name, UPDATE_VALUE_OF[start_mode]),
                            update=True)
    hp.raise_numbered_error(reply)
    for line in hp.trimmed_lines(reply):
        code = hp.control_error_code(line)
        if code is not None:
            raise hp.ControlError(line, code)
    row = find_service(list_services(session), name)
    if row is None or row["start_type"] != LISTED_AS[start_mode]:
        now = row["start_type"] if row else "not listed"
        raise StartModeUnchanged(
            "the server did not change the start mode of %s to %s (UPDATE answered %r; LIST "
            "still shows %s): the server cannot change start types unless UpdateEnabled is on"
            % (name, start_mode, " ".join(hp.trimmed_lines(reply)), now))


def ensure_service(session, name, state=None, start_mode=None, check_mode=False):
    """Brings service `name` to `state` (started, stopped, restarted or None:
    left as it is) and `start_mode` (auto, delayed, manual, disabled or None).

    Returns the module's result: name, before, state, start_mode,
    dependants_stopped (list, or None when the server cannot tell), changed.
    In check mode nothing is sent that changes the service; the result says
    what would change. A delayed start mode cannot be told from auto through
    LIST, so asking for it always updates (and reports a change)."""
    rows = list_services(session)
    row = find_service(rows, name)
    if row is None:
        raise ServiceNotFound("service %s is not in the server's LIST" % name)
    name = row["name"]
    before = state_name(service_status(session, name))
    current_mode = START_MODE_OF.get(row["start_type"], "unknown")
    result = {
        "name": name,
        "before": before,
        "state": before,
        "start_mode": current_mode,
        "dependants_stopped": [],
        "changed": False,
    }

    if start_mode is not None and (start_mode == "delayed" or current_mode != start_mode):
        result["changed"] = True
        if not check_mode:
            _set_start_mode(session, name, start_mode)
        result["start_mode"] = start_mode

    if state == "started" and before != "running":
        result["changed"] = True
        if not check_mode:
            try:
                hp.parse_control("START", session.command("START %s" % name))
            except hp.ControlError as e:
                # Started by someone else meanwhile: the state asked for is there.
                if e.code != hp.ERROR_SERVICE_ALREADY_RUNNING:
                    raise
        result["state"] = "running"
    elif state == "stopped" and before != "stopped":
        result["changed"] = True
        result["dependants_stopped"] = dependants(session, name)
        if not check_mode:
            try:
                hp.parse_control("STOP", session.command("STOP %s" % name))
            except hp.ControlError as e:
                if e.code != hp.ERROR_SERVICE_NOT_ACTIVE:
                    raise
        result["state"] = "stopped"
    elif state == "restarted":
        result["changed"] = True
        if before != "stopped":
            result["dependants_stopped"] = dependants(session, name)
        if not check_mode:
            hp.parse_restart(session.command("RSTRT %s" % name))
        result["state"] = "running"

    if result["changed"] and not check_mode and state is not None:
        result["state"] = state_name(service_status(session, name))
    return result


def service_facts(session, names=None):
    """The services LIST shows (all, or those of `names`, ignoring case), each a
    dict name, display_name (None: LIST does not carry it), state, start_mode,
    logon. Returns (services, missing names)."""
    rows = list_services(session)
    picked = rows
    missing = []
    if names:
        picked = []
        for wanted in names:
            row = find_service(rows, wanted)
            if row is None:
                missing.append(wanted)
            elif row not in picked:
                picked.append(row)
    services = [{
        "name": row["name"],
        "display_name": None,
        "state": state_name(row["state"]),
        "start_mode": START_MODE_OF.get(row["start_type"], "unknown"),
        "logon": row["account"],
    } for row in picked]
    return services, missing
