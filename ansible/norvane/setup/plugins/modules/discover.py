#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright 2026 Norvane Setup developers; all rights reserved (see LICENSE).

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
---
module: discover
short_description: List the Norvane appliances a site host can reach
description:
  - Runs C(norvane discover --format json) on the target host and returns every appliance that answered.
  - Appliances on the host's segments answer its broadcast; appliances behind a router are found by sweeping the
    C(scan) ranges.
  - Never changes anything, so it is safe in check mode; the list is also set as the fact C(norvane_appliances).
version_added: "1.2.0"
author: Norvane Setup developers
extends_documentation_fragment:
  - norvane.setup.norvane
options:
  scan:
    description:
      - Address ranges in CIDR form (C(10.9.0.0/24)) whose every address is also asked by unicast.
    type: list
    elements: str
    default: []
  interface:
    description:
      - Network interfaces of the host to use; all interfaces with broadcast when empty.
    type: list
    elements: str
    default: []
  timeout:
    description:
      - Seconds to gather replies after the last request (norvane's default is 2).
    type: float
notes:
  - Supports check mode.
  - A broadcast stops at the first router; name the routed ranges in C(scan).
'''

EXAMPLES = r'''
- name: List the appliances of this site
  norvane.setup.discover:
  register: found

- name: Include a routed branch office
  norvane.setup.discover:
    scan:
      - 10.9.7.0/24
    timeout: 3
  register: found

- name: Show their MAC addresses
  ansible.builtin.debug:
    msg: "{{ found.appliances | map(attribute='mac') | list }}"
'''

RETURN = r'''
appliances:
  description: The appliances that answered, in the order norvane lists them.
  returned: success
  type: list
  elements: dict
  contains:
    mac:
      description: MAC address, as the appliance reported it.
      type: str
      sample: "00:1A:2B:00:00:01"
    ip:
      description: The address it answered from.
      type: str
      sample: 10.200.1.1
    serial:
      description: Its serial number.
      type: str
      sample: NV10000001
    found_by:
      description: How it was found, C(broadcast:IFACE) for each interface and C(scan) for a sweep.
      type: list
      elements: str
      sample: ["broadcast:eth0"]
    interfaces:
      description: The host's interfaces it answered on.
      type: list
      elements: str
      sample: ["eth0"]
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.norvane.setup.plugins.module_utils.norvane import Norvane, argument_spec


def main():
    own = dict(interface=dict(type='list', elements='str', default=[]))
    module = AnsibleModule(argument_spec=argument_spec(own, password=False), supports_check_mode=True)
    norvane = Norvane(module)
    appliances = norvane.discover(module.params['scan'], module.params['interface'], module.params['timeout'])
    module.exit_json(changed=False, appliances=appliances, ansible_facts=dict(norvane_appliances=appliances))


if __name__ == '__main__':
    main()
