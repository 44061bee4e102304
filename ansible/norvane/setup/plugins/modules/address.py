#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright 2026 Norvane Setup developers; all rights reserved (see LICENSE).

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
---
module: address
short_description: Give a Norvane appliance, named by its MAC, an IP address
description:
  - Discovers the appliances first; when the appliance with C(mac) already answers from C(ip), nothing is sent
    and the task is not changed.
  - Otherwise runs C(norvane set-ip MAC IP), which refuses an address another appliance answers from, sends the
    change and checks that the appliance answers from its new address.
  - In check mode only the discovery is sent.
version_added: "1.2.0"
author: Norvane Setup developers
extends_documentation_fragment:
  - norvane.setup.norvane
  - norvane.setup.norvane.password
options:
  mac:
    description:
      - The appliance's MAC address, in any form norvane reads (C(00:1A:2B:00:00:01), C(001a.2b00.0001), ...).
    type: str
    required: true
  ip:
    description:
      - The address the appliance should have.
    type: str
    required: true
  scan:
    description:
      - Address ranges (CIDR) to sweep as well, for an appliance behind a router.
    type: list
    elements: str
    default: []
  timeout:
    description:
      - Seconds to gather discovery replies (norvane's default is 2).
    type: float
notes:
  - Supports check mode and diff mode.
'''

EXAMPLES = r'''
- name: Put the lobby appliance at its address
  norvane.setup.address:
    mac: "00:1A:2B:00:00:02"
    ip: 10.200.4.4
    password: "{{ vault_norvane_password }}"
'''

RETURN = r'''
mac:
  description: The MAC as the appliance reported it.
  returned: success
  type: str
  sample: "00:1A:2B:00:00:02"
old_ip:
  description: The address it answered from before.
  returned: success
  type: str
  sample: 10.200.1.2
ip:
  description: The address it has now (or would have, in check mode).
  returned: success
  type: str
  sample: 10.200.4.4
rc:
  description: norvane's exit code when it failed.
  returned: failure
  type: int
  sample: 11
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.norvane.setup.plugins.module_utils.norvane import (
    Norvane, argument_spec, find_appliance)


def main():
    own = dict(mac=dict(type='str', required=True), ip=dict(type='str', required=True))
    module = AnsibleModule(argument_spec=argument_spec(own), supports_check_mode=True)
    p = module.params
    norvane = Norvane(module)
    appliance = find_appliance(norvane.discover(p['scan'], None, p['timeout']), p['mac'])
    if appliance is None:
        module.fail_json(msg='no appliance answered with MAC %s' % p['mac'], rc=2)
    result = dict(mac=appliance['mac'], old_ip=appliance['ip'], ip=p['ip'])
    if appliance['ip'] == p['ip']:
        module.exit_json(changed=False, **result)
    diff = dict(before='%s %s\n' % (appliance['mac'], appliance['ip']),
                after='%s %s\n' % (appliance['mac'], p['ip']))
    if not module.check_mode:
        args = ['set-ip', appliance['mac'], p['ip']] + norvane.common_options(p['scan'])
        if p['timeout'] is not None:
            args += ['--discover-timeout', str(p['timeout'])]
        norvane.run(args)
    module.exit_json(changed=True, diff=diff, **result)


if __name__ == '__main__':
    main()
