#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright 2026 Norvane Setup developers; all rights reserved (see LICENSE).

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
---
module: reboot
short_description: Reboot a Norvane appliance
description:
  - Runs C(norvane reboot TARGET --yes) on the host; the task succeeds once the appliance acknowledged.
  - Always changed; skipped in check mode.
version_added: "1.2.0"
author: Norvane Setup developers
extends_documentation_fragment:
  - norvane.setup.norvane
  - norvane.setup.norvane.password
  - norvane.setup.norvane.target
options:
  target:
    description:
      - The appliance, by its MAC address (found by a discovery) or its IP address (asked directly).
    type: str
    required: true
notes:
  - Supports check mode (the task is skipped).
'''

EXAMPLES = r'''
- name: Reboot the appliance after its restore
  norvane.setup.reboot:
    target: "00:1A:2B:00:00:01"
    password: "{{ vault_norvane_password }}"
'''

RETURN = r'''
target:
  description: The appliance as given.
  returned: success
  type: str
  sample: "00:1A:2B:00:00:01"
rc:
  description: norvane's exit code when it failed.
  returned: failure
  type: int
  sample: 4
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.norvane.setup.plugins.module_utils.norvane import (
    Norvane, argument_spec)


def main():
    module = AnsibleModule(argument_spec=argument_spec(dict(target=dict(type='str', required=True))),
                           supports_check_mode=True)
    p = module.params
    if module.check_mode:
        module.exit_json(changed=False, skipped=True, msg='skipped in check mode: nothing sent', target=p['target'])
    norvane = Norvane(module)
    norvane.run(['reboot', p['target'], '--yes'] + norvane.common_options(p['scan'], None, p['timeout']))
    module.exit_json(changed=True, target=p['target'])


if __name__ == '__main__':
    main()
