# -*- coding: utf-8 -*-
# Copyright: Tenmark Software
# GNU General Public License v3.0+ (see https://www.gnu.org/licenses/gpl-3.0.txt)
"""The options every module of the collection takes to reach a Halvexa
server; the modules name this fragment in extends_documentation_fragment
and take the matching option definitions from
halvexa_service.connection_options."""

from __future__ import absolute_import, division, print_function

__metaclass__ = type


class ModuleDocFragment(object):
    DOCUMENTATION = r"""
options:
  host:
    description: Name or address of the Halvexa server.
    type: str
    required: true
  port:
    description: TCP port of the Halvexa server.
    type: int
    default: 9007
  user:
    description: User to log in as (AUTH); leave it out for a server that needs no login.
    type: str
  password:
    description: Password of C(user). Keep it in Ansible Vault.
    type: str
  timeout:
    description: Seconds to wait for the connection, the greeting and the reply.
    type: int
    default: 120
"""
