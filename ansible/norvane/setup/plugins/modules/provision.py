#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright 2026 Norvane Setup developers; all rights reserved (see LICENSE).

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
---
module: provision
short_description: Give many Norvane appliances their addresses from a plan
description:
  - Runs C(norvane provision) on the host with a plan given as C(rows), as a CSV file C(plan) on the host, or
    numbered from C(from) over the appliances found (those C(match) selects).
  - Appliances already at their planned address are left alone; the task is changed only when one moved.
  - In check mode runs C(norvane provision --dry-run), which sends nothing but the discovery.
  - When any appliance failed or did not answer, the task fails naming them; the other rows are still done and
    reported in C(results).
version_added: "1.2.0"
author: Norvane Setup developers
extends_documentation_fragment:
  - norvane.setup.norvane
  - norvane.setup.norvane.password
options:
  rows:
    description:
      - The plan, one entry per appliance. A row's own I(password) overrides C(password) for it.
    type: list
    elements: dict
    suboptions:
      mac:
        description: The appliance's MAC address.
        type: str
        required: true
      ip:
        description: Its planned address.
        type: str
        required: true
      password:
        description:
          - Its own password, when it differs from C(password); at most 10 bytes, as C(password).
          - norvane refuses a plan with a longer one whole, before it sends anything (C(rc) 2).
        type: str
  plan:
    description:
      - A CSV plan on the host (header naming C(mac), C(ip) and optionally C(password), at most 10 bytes in
        each row, as in C(rows)).
    type: path
  from:
    description:
      - Instead of a plan, consecutive addresses from this one to the appliances found, in MAC order.
    type: str
  match:
    description:
      - With C(from), only the appliances whose MAC, IP or serial matches this glob (C(*) and C(?)).
    type: str
  parallel:
    description:
      - Appliances worked on at once (norvane's default is 8).
    type: int
  retries:
    description:
      - Times a change whose reply was lost is sent again (norvane's default is 2).
    type: int
  scan:
    description:
      - Address ranges (CIDR) to sweep as well, for appliances behind a router.
    type: list
    elements: str
    default: []
  timeout:
    description:
      - Seconds to wait for each appliance's reply (norvane's default is 5).
    type: float
notes:
  - Supports check mode.
  - Rows with passwords are written to a private (0600) temporary plan file, never put on a command line.
'''

EXAMPLES = r'''
- name: Provision this site from its rows
  norvane.setup.provision:
    rows:
      - mac: "00:1A:2B:00:00:01"
        ip: 10.200.20.1
      - mac: "00:1A:2B:00:00:02"
        ip: 10.200.20.2
    password: "{{ vault_norvane_password }}"
  register: provisioned

- name: Provision from a plan kept on the site host
  norvane.setup.provision:
    plan: /etc/norvane/plan.csv
    password: "{{ vault_norvane_password }}"

- name: Number the new appliances
  norvane.setup.provision:
    from: 10.200.30.1
    match: "NV1000*"
'''

RETURN = r'''
results:
  description:
    - One entry per row, from norvane's report (or its dry run in check mode).
    - A report entry has C(mac), C(old_ip), C(new_ip), C(outcome) (C(moved), C(already there), C(not found),
      C(failed), C(interrupted)), C(attempts) and C(error).
    - A dry-run entry has C(mac), C(ip), C(new_ip) and C(action) (C(change), C(already there), C(not found)).
  returned: always
  type: list
  elements: dict
  sample: [{"mac": "00:1A:2B:00:00:01", "old_ip": "10.200.1.1", "new_ip": "10.200.20.1", "outcome": "moved",
            "attempts": 1, "error": null}]
failed_appliances:
  description: The appliances that failed or did not answer, each as C(MAC, reason).
  returned: failure
  type: list
  elements: str
rc:
  description: norvane's exit code.
  returned: always
  type: int
  sample: 0
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.norvane.setup.plugins.module_utils.norvane import (
    Norvane, argument_spec, failed_rows, failure_message, parse_report)


def csv_field(text):
    text = text or ''
    if any(c in text for c in ',"\r\n') or text != text.strip():
        return '"%s"' % text.replace('"', '""')
    return text


def plan_text(rows):
    """rows as norvane's CSV plan; the password column only when a row has one."""
    with_password = any(row.get('password') for row in rows)
    lines = ['mac,ip,password' if with_password else 'mac,ip']
    for row in rows:
        cells = [row['mac'], row['ip']] + ([row.get('password') or ''] if with_password else [])
        lines.append(','.join(csv_field(cell) for cell in cells))
    return '\n'.join(lines) + '\n'


def outcome(rc, entries, check_mode):
    """(changed, failed rows) of a run that ended with rc and wrote entries."""
    if check_mode:
        return (any(e.get('action') == 'change' for e in entries),
                ['%s: not found' % e.get('mac') for e in entries if e.get('action') == 'not found'])
    return any(e.get('outcome') == 'moved' for e in entries), failed_rows(entries)


def main():
    row_spec = dict(mac=dict(type='str', required=True), ip=dict(type='str', required=True),
                    password=dict(type='str', no_log=True))
    own = {
        'rows': dict(type='list', elements='dict', options=row_spec),
        'plan': dict(type='path'),
        'from': dict(type='str'),
        'match': dict(type='str'),
        'parallel': dict(type='int'),
        'retries': dict(type='int'),
    }
    module = AnsibleModule(argument_spec=argument_spec(own), supports_check_mode=True,
                           required_one_of=[('rows', 'plan', 'from')],
                           mutually_exclusive=[('rows', 'plan', 'from')],
                           required_by={'match': 'from'})
    p = module.params
    norvane = Norvane(module)

    args = ['provision']
    if p['rows'] is not None:
        args.append(norvane.write_private('plan.csv', plan_text(p['rows'])))
    elif p['plan'] is not None:
        args.append(p['plan'])
    else:
        args += ['--from', p['from']]
        if p['match'] is not None:
            args += ['--match', p['match']]
    for name in ('parallel', 'retries'):
        if p[name] is not None:
            args += ['--%s' % name, str(p[name])]
    args += norvane.common_options(p['scan'], None, p['timeout'])

    report = None
    if module.check_mode:
        args += ['--dry-run', '--format', 'json']
    else:
        report = norvane.temp_path('report.json')
        args += ['--report', report]
    # 1, 3, 14 and the interruptions leave a report (or the dry run's list)
    # worth returning; the other codes mean nothing was done.
    rc, out, err = norvane.run(args, accept=(0, 1, 3, 14, 129, 130, 143))
    try:
        if report is None:
            entries = parse_report(out)
        else:
            with open(report) as handle:
                entries = parse_report(handle.read())
    except (IOError, OSError, ValueError) as error:
        entries = []
        if rc == 0:
            module.fail_json(msg='norvane provision left no readable report: %s' % error, rc=rc, stderr=err)
    changed, failed = outcome(rc, entries, module.check_mode)
    if rc != 0:
        if failed:
            msg = 'norvane provision: %d of %d appliances failed or did not answer (exit %d): %s' % (
                len(failed), len(entries), rc, '; '.join(failed))
        else:
            msg = failure_message('provision', rc, err)
        module.fail_json(msg=msg, rc=rc, changed=changed, results=entries, failed_appliances=failed, stderr=err)
    module.exit_json(changed=changed, rc=rc, results=entries)


if __name__ == '__main__':
    main()
