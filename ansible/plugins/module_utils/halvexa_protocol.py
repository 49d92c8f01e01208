# -*- coding: utf-8 -*-
# Copyright: Tenmark Software
# GNU General Public License v3.0+ (see https://www.gnu.org/licenses/gpl-3.0.txt)
"""A small client of the Halvexa command protocol, for the collection's modules.

One session is one TCP connection: the greeting up to its prompt, an optional
AUTH line, commands one at a time with their whole reply read up to the
prompt, and QUIT. The server ends its lines with LF CR and ends most replies
with the prompt ":: ". Every wait has a deadline. What goes wrong is raised as
a HalvexaError subclass that carries the server's text and, where there is
one, its number (a numbered line such as "550-Permission denied: ...", or the
system error number of a service-control failure).

Pure standard library: the modules run it on the controller.
"""

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import socket
import time

PROMPT = b":: "
NEWLINE_PROMPT = b"\n\r:: "
RULE = "-" * 80
UPDATE_ECHO = b"Updating Service\n\r"
MAX_REPLY_BYTES = 16 << 20
# The port a server listens on unless its configuration says otherwise.
DEFAULT_PORT = 9007

STATE_WORDS = ("Stopped", "Starting", "Stopping", "Running", "Continuing", "Pausing", "Paused",
               "Unknown")
START_TYPE_WORDS = ("Boot", "System", "Automatic", "Demand", "Disabled", "Unknown")

# STATUS's second line and the state word it stands for.
STATUS_TEXTS = {
    "The service is stopped.": "Stopped",
    "The service is starting.": "Starting",
    "The service is stopping.": "Stopping",
    "The service is running.": "Running",
    "The service continue is pending.": "Continuing",
    "The service pause is pending.": "Pausing",
    "The service is paused.": "Paused",
    "Unable to determine status.": "Unknown",
}

# The server's texts for service-control failures and their system error numbers.
CONTROL_ERROR_TEXTS = {
    "The service binary file could not be found.": 3,
    "The requested access was denied.": 5,
    "The specified handle is invalid.": 6,
    "A parameter that was specified is invalid.": 87,
    "The specified service name is invalid.": 123,
    "The InfoLevel parameter contains an unsupported value (Info may not be available for your "
    "operating system.": 124,
    "The buffer is not large enough.": 234,
    "The service cannot be stopped because other running services are dependent on it.": 1051,
    "The requested control code is not valid, or it is unacceptable to the service.": 1052,
    "The service did not respond to the start request in a timely fashion.": 1053,
    "A thread could not be created for the Win32 service.": 1054,
    "The database is locked.": 1055,
    "An instance of the service is already running.": 1056,
    "The service has been disabled.": 1058,
    "Service does not exist.": 1060,
    "The requested control code cannot be sent to the service because the state of the service "
    "is SERVICE_STOPPED, SERVICE_START_PENDING, or SERVICE_STOP_PENDING.": 1061,
    "The service has not been started.": 1062,
    "The specified database does not exist.": 1065,
    "The service depends on another service that has failed to start.": 1068,
    "The service could not be logged on.": 1069,
    "The service has been marked for deletion.": 1072,
    "The service depends on a service that does not exist or has been marked for deletion.": 1075,
    "The system is shutting down; this function cannot be called.": 1115,
}
GENERIC_CONTROL_ERROR = "The specified service error is not known for error code "

ERROR_SERVICE_ALREADY_RUNNING = 1056
ERROR_SERVICE_NOT_ACTIVE = 1062


class HalvexaError(Exception):
    """Base of every failure: `text` is what to show, `code` its number or None."""

    def __init__(self, text, code=None):
        super(HalvexaError, self).__init__(text)
        self.text = text
        self.code = code


class ConnectError(HalvexaError):
    """No connection: the name did not resolve, or the connect was refused or failed."""


class TimeoutError_(HalvexaError):
    """Connected, but the greeting or a reply did not arrive in time."""


class ClosedError(HalvexaError):
    """The server closed the connection before the greeting or a reply was complete."""


class ReplyError(HalvexaError):
    """A reply that is not of the form its command answers."""


class CommandError(HalvexaError):
    """A numbered error line ("500-Unknown command 'DEPS'", "550-Permission denied: ...")."""


class LoginError(CommandError):
    """AUTH refused ("530-Login incorrect") or the connection closed after it."""


class ControlError(HalvexaError):
    """A service-control step failed; `code` is the system error number (0 if unknown)."""


def lines_of(text):
    """The reply's lines: split at LF, the CR after each LF dropped; the last piece kept."""
    out = []
    start = 0
    while True:
        lf = text.find("\n", start)
        if lf < 0:
            out.append(text[start:])
            return out
        out.append(text[start:lf])
        start = lf + 1
        if start < len(text) and text[start] == "\r":
            start += 1


def trimmed_lines(text):
    """lines_of(text) without the empty lines at both ends."""
    lines = lines_of(text)
    while lines and not lines[-1]:
        lines.pop()
    while lines and not lines[0]:
        lines.pop(0)
    return lines


def numbered_error(line):
    """(code, line) when `line` is a numbered error such as "500-Unknown command 'X'"
    (311 lines are help text, not errors); else None."""
    if len(line) >= 4 and line[3] == "-" and line[:3].isdigit() and line[:3] != "311":
        return int(line[:3]), line
    return None


def raise_numbered_error(text):
    """Raises CommandError for the first numbered error line of `text`, if any."""
    for line in trimmed_lines(text):
        found = numbered_error(line)
        if found:
            raise CommandError(found[1], found[0])


def control_error_code(line):
    """The system error number that a service-control error text stands for, or None."""
    if line in CONTROL_ERROR_TEXTS:
        return CONTROL_ERROR_TEXTS[line]
    if line.startswith(GENERIC_CONTROL_ERROR) and line.endswith("."):
        digits = line[len(GENERIC_CONTROL_ERROR):-1]
        if digits.isdigit() and len(digits) <= 10 and int(digits) <= 0xFFFFFFFF:
            return int(digits)
    return None


def _control_outcome(line, success):
    """None when `line` is `success`; else the ControlError the line reports."""
    if line == success:
        return None
    code = control_error_code(line)
    return ControlError(line, code if code is not None else 0)


def _after_rule(lines, header):
    """Index of the first line after `header` and the rule under it; None when absent."""
    for i in range(len(lines) - 1):
        if lines[i].startswith(header) and lines[i + 1] == RULE:
            return i + 2
    return None


def _word_at(text, words):
    for word in words:
        if text.startswith(word) and (len(text) == len(word) or text[len(word)] == " "):
            return word
    return None


def parse_list_row(row):
    """One LIST row " %-34s %-11s %-13s %-16s" as a dict (name, state, start_type, account).

    The state column starts at position 36, or later when the name is longer;
    a name may hold blanks, so the row is read at the first position from 36
    on where a state word and a start-type word follow each other. None when
    the row is not of that form."""
    if len(row) < 2 or row[0] != " " or row[1] == " ":
        return None
    for at in range(36, len(row)):
        if row[at - 1] != " " or row[at] == " ":
            continue
        rest = row[at:]
        state = _word_at(rest, STATE_WORDS)
        if state is None:
            continue
        after_state = rest[len(state):].lstrip(" ")
        if len(after_state) == len(rest) - len(state):
            continue
        start_type = _word_at(after_state, START_TYPE_WORDS)
        if start_type is None:
            continue
        return {
            "name": row[1:at - 1].rstrip(" "),
            "state": state,
            "start_type": start_type,
            "account": after_state[len(start_type):].strip(" "),
        }
    return None


def parse_list(text):
    """The services of a LIST reply (its text without the prompt), as dicts.

    Raises CommandError for a numbered line, ControlError when the server could
    not open the manager (its error text ends the list), ReplyError for any
    other form."""
    raise_numbered_error(text)
    lines = trimmed_lines(text)
    first = _after_rule(lines, " Service Name ")
    if first is None:
        raise ReplyError("the LIST reply has no column header")
    services = []
    for line in lines[first:]:
        if not line:
            continue
        if line[0] != " ":
            raise _control_outcome(line, None)
        row = parse_list_row(line)
        if row is None:
            raise ReplyError('LIST row not understood: "%s"' % line)
        services.append(row)
    return services


def parse_status(text):
    """The state word of a STATUS reply ("Running", ..., "Unknown" when the server
    could not read it). Raises CommandError or ReplyError."""
    raise_numbered_error(text)
    lines = trimmed_lines(text)
    if len(lines) != 2 or lines[0] != "Retrieving Status":
        raise ReplyError('the STATUS reply is not "Retrieving Status" and a state')
    if lines[1] not in STATUS_TEXTS:
        raise ReplyError('unknown STATUS text: "%s"' % lines[1])
    return STATUS_TEXTS[lines[1]]


# The echo and success line of each service-control command.
CONTROL_FORMS = {
    "START": ("Starting Service...", "Service started"),
    "STOP": ("Stopping Service...", "Service Stopped"),
}


def parse_control(verb, text):
    """Checks a START or STOP reply: returns the service name the server echoed.
    Raises ControlError (with the system error number) when the step failed,
    CommandError for a numbered line, ReplyError for any other form."""
    raise_numbered_error(text)
    echo, success = CONTROL_FORMS[verb]
    lines = trimmed_lines(text)
    if len(lines) != 2 or not lines[0].startswith(echo) or not lines[1]:
        raise ReplyError('the %s reply is not "%s" and an outcome' % (verb, echo))
    failure = _control_outcome(lines[1], success)
    if failure is not None:
        raise failure
    return lines[0][len(echo):]


def parse_restart(text):
    """Checks an RSTRT reply. Returns the ControlError of its stop step, or None
    when the stop succeeded (a stop that failed because the service was not
    running is no failure of the restart). Raises ControlError when the start
    failed, CommandError or ReplyError as parse_control does."""
    raise_numbered_error(text)
    echo = "Restarting Service..."
    lines = trimmed_lines(text)
    if len(lines) < 3 or not lines[0].startswith(echo) or not lines[1] or not lines[2]:
        raise ReplyError("the RSTRT reply is not the echo, the stop outcome and the start outcome")
    start_failure = _control_outcome(lines[2], "Service Started")
    if start_failure is not None:
        raise start_failure
    # A server with RestartDependents adds a line for each dependant it
    # started again; the first that failed is the restart's failure.
    for line in lines[3:]:
        if line.startswith(DEPENDANT_STARTED):
            continue
        failure = _dependant_failure(line)
        if failure is None:
            raise ReplyError("RSTRT line not understood: %r" % line)
        raise failure
    return _control_outcome(lines[1], "Service Stopped...")


DEPENDANT_STARTED = "Dependent service started: "
DEPENDANT_NOT_STARTED = "Dependent service not started: "


def _dependant_failure(line):
    """The ControlError of a "Dependent service not started: NAME, error CODE:
    TEXT" line (its text names the dependant), or None for any other line."""
    if not line.startswith(DEPENDANT_NOT_STARTED):
        return None
    rest = line[len(DEPENDANT_NOT_STARTED):]
    at = rest.find(", error ")
    if at <= 0:
        return None
    code, colon, _ = rest[at + len(", error "):].partition(": ")
    if not colon or not code.isdigit():
        return None
    return ControlError(line, int(code))


def parse_deps(text):
    """The names of the running dependants a DEPS reply lists, in stop order.

    DEPS answers a small table: a header line starting " Service Name", the
    rule, then a row per dependant whose first word is its name. Raises
    CommandError for a numbered line (500 from a server without DEPS),
    ControlError for a service-control error text, ReplyError otherwise."""
    raise_numbered_error(text)
    lines = trimmed_lines(text)
    first = _after_rule(lines, " Service Name")
    if first is None:
        raise ReplyError("the DEPS reply has no column header")
    names = []
    for line in lines[first:]:
        if not line:
            continue
        if line[0] != " " or len(line) < 2 or line[1] == " ":
            raise _control_outcome(line, None)
        names.append(line.split()[0])
    return names


def parse_greeting(text):
    """The fields of a greeting (version, server_name, account, date). Raises
    CommandError for a numbered line ("421-Too many connections, ..."),
    ReplyError when no version is present."""
    raise_numbered_error(text)
    fields = {}
    for line in lines_of(text):
        for key, prefix in (("version", "Halvexa: Version "), ("server_name", "Connected to: "),
                            ("account", "Service running as: "), ("date", "Local Server Date: ")):
            if line.startswith(prefix):
                fields[key] = line[len(prefix):]
    if "version" not in fields:
        raise ReplyError("not a Halvexa server (no version in the greeting)")
    return fields


def _decode(data):
    # The server's texts are single-byte code-page text: read as Latin-1 so that
    # every byte maps to one character and nothing fails to decode.
    return data.decode("latin-1")


class Session(object):
    """One connection to a Halvexa server. Not thread-safe; use one per task.

    `timeout` (seconds) bounds the connect, the greeting and each reply."""

    def __init__(self, host, port, timeout):
        self.host = host
        self.port = port
        self.timeout = float(timeout)
        self.greeting = None
        self._socket = None
        self._pending = b""

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False

    def connect(self):
        """Connects and reads the greeting; returns its fields (see parse_greeting).
        Raises ConnectError, TimeoutError_, ClosedError, CommandError (a 421 line
        when the server is at its client limit) or ReplyError."""
        try:
            self._socket = socket.create_connection((self.host, self.port), self.timeout)
        except socket.timeout:
            raise TimeoutError_("timed out after %g s connecting to %s:%d"
                                % (self.timeout, self.host, self.port))
        except (socket.error, OSError) as e:
            raise ConnectError("cannot connect to %s:%d: %s" % (self.host, self.port, e))
        data = self._read_until(lambda b: b.endswith(NEWLINE_PROMPT), "the greeting")
        self.greeting = parse_greeting(_decode(data[:-len(NEWLINE_PROMPT)]
                                               if data.endswith(NEWLINE_PROMPT) else data))
        return self.greeting

    def login(self, user, password):
        """Sends AUTH; returns on "230-Logged in as ...". Raises LoginError with
        the server's line when refused (or ClosedError/TimeoutError_)."""
        if any(c.isspace() for c in user) or not user:
            raise LoginError("the user name must be one word without blanks")
        self._send("AUTH %s %s" % (user, password))
        data = self._read_until(lambda b: b.endswith(PROMPT), "the AUTH reply")
        text = _decode(data)
        for line in trimmed_lines(text):
            found = numbered_error(line)
            if found and found[0] == 230:
                return
            if found:
                raise LoginError(found[1], found[0])
        raise ReplyError("the AUTH reply has no numbered line")

    def command(self, line, update=False):
        """Sends one command line and returns its whole reply, prompt removed, as
        text. `update`: the reply of UPDATE, which may end after "Updating
        Service" with no prompt. Raises TimeoutError_ or ClosedError."""
        self._send(line)
        if update:
            done = lambda b: b.endswith(PROMPT) or b.endswith(UPDATE_ECHO)  # noqa: E731
        else:
            done = lambda b: b.endswith(PROMPT)  # noqa: E731
        data = self._read_until(done, "the reply to %s" % line.split(" ")[0].upper())
        if data.endswith(NEWLINE_PROMPT):
            data = data[:-len(NEWLINE_PROMPT)]
        elif data.endswith(PROMPT):
            data = data[:-len(PROMPT)]
        return _decode(data)

    def close(self):
        """Sends QUIT (its answer is the server closing) and closes; never raises."""
        if self._socket is None:
            return
        try:
            self._socket.settimeout(0.5)
            self._socket.sendall(b"QUIT\r\n")
        except (socket.error, OSError):
            pass
        try:
            self._socket.close()
        except (socket.error, OSError):
            pass
        self._socket = None

    def _send(self, line):
        if "\r" in line or "\n" in line:
            raise ReplyError("a command line cannot hold a line end")
        try:
            self._socket.settimeout(self.timeout)
            self._socket.sendall(line.encode("latin-1") + b"\r\n")
        except socket.timeout:
            raise TimeoutError_("timed out after %g s sending to %s:%d"
                                % (self.timeout, self.host, self.port))
        except (socket.error, OSError) as e:
            raise ClosedError("the connection to %s:%d failed while sending: %s"
                              % (self.host, self.port, e))

    def _read_until(self, complete, what):
        """Reads until complete(bytes) holds; returns the bytes. A connection closed
        early raises ClosedError, or, when what arrived holds a numbered error
        line, CommandError (LoginError for AUTH) with that line: the server's
        "421-..." before it closes."""
        deadline = time.monotonic() + self.timeout
        data = self._pending
        self._pending = b""
        while not complete(data):
            left = deadline - time.monotonic()
            if left <= 0:
                raise TimeoutError_("timed out after %g s waiting for %s from %s:%d"
                                    % (self.timeout, what, self.host, self.port))
            try:
                self._socket.settimeout(left)
                chunk = self._socket.recv(65536)
            except socket.timeout:
                continue
            except (socket.error, OSError) as e:
                chunk = b""
                reason = str(e)
            else:
                reason = "closed by the server"
            if not chunk:
                text = _decode(data)
                for line in trimmed_lines(text):
                    found = numbered_error(line)
                    if found:
                        error = LoginError if what == "the AUTH reply" else CommandError
                        raise error(found[1], found[0])
                raise ClosedError("connection to %s:%d %s before %s%s"
                                  % (self.host, self.port, reason, what,
                                     " was complete" if data else ""))
            data += chunk
            if len(data) > MAX_REPLY_BYTES:
                raise ReplyError("%s is larger than %d bytes" % (what, MAX_REPLY_BYTES))
        return data


def open_session(host, port, timeout, user=None, password=None):
    """A connected Session, logged in when `user` is given. Raises HalvexaError."""
    session = Session(host, port, timeout)
    try:
        session.connect()
        if user:
            session.login(user, password or "")
    except Exception:
        session.close()
        raise
    return session
