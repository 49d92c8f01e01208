# Replies in the server's own forms (lines end with LF CR; most replies end
# with the prompt), built the way the service builds them.
RULE = b"-" * 80 + b"\n\r"
PROMPT = b":: "


def list_reply(rows):
    """LIST: header block, column header, rule, " %-34s %-11s %-13s %-16s" rows."""
    out = (b"\n\rHalvexa Version 3.5.1.1\n\r\n\rServer: TESTHOST\n\rService running as: "
           b"LocalSystem\n\rLocal Server Date: 10 december 2026 12:00:00 pm\n\r\n\r")
    out += b" Service Name                       Status      Startup Type  Log On As\n\r" + RULE
    for name, state, start, account in rows:
        out += (" %-34s %-11s %-13s %-16s\n\r" % (name, state, start, account)).encode("latin-1")
    return out + PROMPT


def status_reply(text):
    return b"Retrieving Status\n\r" + text.encode() + b"\n\r" + PROMPT


def control_reply(echo, name, outcome):
    return (echo + name + "\n\r" + outcome + "\n\r").encode() + PROMPT


def stop_reply(name, outcome="Service Stopped"):
    return control_reply("Stopping Service...", name, outcome)


def start_reply(name, outcome="Service started"):
    return control_reply("Starting Service...", name, outcome)


def restart_reply(name, stop="Service Stopped...", start="Service Started", dependants=()):
    """RSTRT; `dependants` are the lines of the dependants started again
    (RestartDependents on)."""
    text = "Restarting Service...%s\n\r%s\n\r%s\n\r" % (name, stop, start)
    text += "".join(line + "\n\r" for line in dependants)
    return text.encode() + PROMPT


def deps_reply(rows):
    out = b" Service Name                       Display Name                       Status\n\r"
    out += RULE
    for name, display, state in rows:
        out += (" %-34s %-34s %-11s\n\r" % (name, display, state)).encode()
    return out + PROMPT


def unknown_command(word):
    return ("\n\r500-Unknown command '%s'\n\r" % word).encode() + PROMPT


RUNNING = "The service is running."
STOPPED = "The service is stopped."
