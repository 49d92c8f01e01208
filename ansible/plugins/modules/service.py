#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright: Tenmark Software
# GNU General Public License v3.0+ (see https://www.gnu.org/licenses/gpl-3.0.txt)
"""The tenmark.halvexa.service module: one Windows service brought to a state
through a Halvexa server. The work is in module_utils/halvexa_service.py."""

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r"""
---
module: service
short_description: Start, stop or restart a Windows service through a Halvexa server
version_added: "1.0.0"
description:
  - Connects to a Halvexa server (the Halvexa351 service) over its command protocol and brings
    one Windows service of that server to the asked state.
  - C(started) and C(stopped) are idempotent; C(restarted) always restarts and reports a change.
  - "The module talks TCP from the controller: run it with C(delegate_to: localhost) or in a
    play with C(connection: local), one inventory host per server."
  - A refused command (550), a failed login (530), a time-out, a connection closed early or a
    service-control failure fails the task with the server's text; an unreachable server fails
    that host only.
options:
  name:
    description: Name of the Windows service (its key name, not the display name).
    type: str
    required: true
  state:
    description:
      - C(started) starts the service unless it is running; C(stopped) stops it unless it is
        stopped (with its running dependants when the server is set to stop them);
        C(restarted) stops and starts it.
      - Left out, the service's state is not changed.
    type: str
    choices: [started, stopped, restarted]
  start_mode:
    description:
      - Start mode to set. Needs a server that can change start types (UpdateEnabled on);
        a server that answers UPDATE without changing anything fails the task with a message
        saying so, after reading the start type back.
      - The server lists a delayed start as automatic, so C(delayed) always sends the update
        and reports a change.
    type: str
    choices: [auto, delayed, manual, disabled]
notes:
  - Check mode is supported. It reports what would change; for C(state=stopped) it lists the
    running dependants that would stop with it when the server answers DEPS.
extends_documentation_fragment:
  - tenmark.halvexa.connection
author:
  - Tenmark Software
"""

EXAMPLES = r"""
- name: Stop the print spooler on every Halvexa server of the group
  tenmark.halvexa.service:
    host: "{{ inventory_hostname }}"
    user: Admin
    password: "{{ halvexa_password }}"
    name: Spooler
    state: stopped
  delegate_to: localhost

- name: Make sure BITS runs (a server on another port)
  tenmark.halvexa.service:
    host: 10.0.0.5
    port: 9107
    name: BITS
    state: started
  delegate_to: localhost

- name: Preview what stopping W32Time would take down
  tenmark.halvexa.service:
    host: "{{ inventory_hostname }}"
    name: W32Time
    state: stopped
  check_mode: true
  delegate_to: localhost
  register: preview
"""

RETURN = r"""
name:
  description: The service's name as the server lists it.
  returned: success
  type: str
  sample: Spooler
before:
  description: The service's state before the task (lower case state word of the server).
  returned: success
  type: str
  sample: running
state:
  description: >-
    The service's state after the task, as STATUS reads it (in check mode: the state it would
    have).
  returned: success
  type: str
  sample: stopped
start_mode:
  description: The start mode after the task (auto, manual, disabled, boot, system, unknown).
  returned: success
  type: str
  sample: manual
dependants_stopped:
  description:
    - Running services that depend on this one and were (or, in check mode, would be) stopped
      with it, in stop order.
    - null when the server cannot tell (it does not know the DEPS command).
  returned: success
  type: list
  elements: str
  sample: [Fax]
changed:
  description: Whether the service's state or start mode changed (or would change).
  returned: always
  type: bool
"""

from ansible.module_utils.basic import AnsibleModule

from ansible_collections.tenmark.halvexa.plugins.module_utils import halvexa_protocol as hp
from ansible_collections.tenmark.halvexa.plugins.module_utils import halvexa_service as hs


def main():
    module = AnsibleModule(
        argument_spec=dict(
            hs.connection_options(),
            name=dict(type="str", required=True),
            state=dict(type="str", choices=["started", "stopped", "restarted"]),
            start_mode=dict(type="str", choices=["auto", "delayed", "manual", "disabled"]),
        ),
        required_by=hs.CONNECTION_REQUIRED_BY,
        supports_check_mode=True,
    )
    p = module.params
    try:
        with hs.module_session(p) as session:
            result = hs.ensure_service(session, p["name"], p["state"], p["start_mode"],
                                       module.check_mode)
    except hp.HalvexaError as e:
        module.fail_json(msg=e.text, code=e.code, changed=False)
    module.exit_json(**result)


if __name__ == "__main__":
    main()
