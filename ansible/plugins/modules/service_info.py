#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright: Tenmark Software
# GNU General Public License v3.0+ (see https://www.gnu.org/licenses/gpl-3.0.txt)
"""The tenmark.halvexa.service_info module: the Windows services a Halvexa
server lists, as facts for templates and reports."""

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r"""
---
module: service_info
short_description: List the Windows services of a Halvexa server
version_added: "1.0.0"
description:
  - Reads the services a Halvexa server lists (its LIST command) with their state, start mode
    and logon account; a source of facts for templates and reports.
  - "Runs on the controller: C(delegate_to: localhost) or C(connection: local)."
  - Never changes anything; check mode returns the same.
options:
  names:
    description:
      - Services to return, matched ignoring case. Empty returns every listed service.
    type: list
    elements: str
    default: []
extends_documentation_fragment:
  - tenmark.halvexa.connection
author:
  - Tenmark Software
"""

EXAMPLES = r"""
- name: Read every service of the server
  tenmark.halvexa.service_info:
    host: "{{ inventory_hostname }}"
    user: Operator
    password: "{{ halvexa_password }}"
  delegate_to: localhost
  register: halvexa

- name: Report the services that are not running
  ansible.builtin.debug:
    msg: "{{ halvexa.services | rejectattr('state', 'eq', 'running') | map(attribute='name') }}"

- name: Two services only
  tenmark.halvexa.service_info:
    host: "{{ inventory_hostname }}"
    names: [Spooler, BITS]
  delegate_to: localhost
"""

RETURN = r"""
services:
  description: The services, in the order the server lists them.
  returned: success
  type: list
  elements: dict
  contains:
    name:
      description: The service's key name.
      type: str
      sample: Spooler
    display_name:
      description: The display name; null, as the server's LIST does not carry it.
      type: str
      sample: null
    state:
      description: Lower case state word (running, stopped, starting, stopping, paused, ...).
      type: str
      sample: running
    start_mode:
      description: auto, manual, disabled, boot, system or unknown.
      type: str
      sample: auto
    logon:
      description: The account the service runs as.
      type: str
      sample: LocalSystem
missing:
  description: The names of C(names) the server does not list.
  returned: success
  type: list
  elements: str
  sample: []
"""

from ansible.module_utils.basic import AnsibleModule

from ansible_collections.tenmark.halvexa.plugins.module_utils import halvexa_protocol as hp
from ansible_collections.tenmark.halvexa.plugins.module_utils import halvexa_service as hs


def main():
    module = AnsibleModule(
        argument_spec=dict(
            hs.connection_options(),
            names=dict(type="list", elements="str", default=[]),
        ),
        required_by=hs.CONNECTION_REQUIRED_BY,
        supports_check_mode=True,
    )
    p = module.params
    try:
        with hs.module_session(p) as session:
            services, missing = hs.service_facts(session, p["names"])
    except hp.HalvexaError as e:
        module.fail_json(msg=e.text, code=e.code)
    module.exit_json(changed=False, services=services, missing=missing)


if __name__ == "__main__":
    main()
