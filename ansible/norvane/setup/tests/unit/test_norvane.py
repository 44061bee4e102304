# Exit codes into messages, and norvane's JSON into what the modules return.
# Run with the collection's parent on PYTHONPATH (tools/support/ansible-sanity).

from __future__ import absolute_import, division, print_function
__metaclass__ = type

import json
import os
import shutil
import sys
import tempfile
import unittest

from ansible_collections.norvane.setup.plugins.module_utils import norvane
from ansible_collections.norvane.setup.plugins.modules import config, provision

# The codes of norvane's README table: a new one must get its own message.
README_CODES = list(range(0, 15)) + [129, 130, 143]


class ExitCodes(unittest.TestCase):
    def test_every_documented_code_has_its_own_message(self):
        messages = [norvane.exit_message(rc) for rc in README_CODES]
        self.assertEqual(len(set(messages)), len(README_CODES))
        self.assertFalse([m for m in messages if 'unknown code' in m])

    def test_unknown_code_and_signal_are_named(self):
        self.assertIn('unknown code 42', norvane.exit_message(42))
        self.assertIn('signal 9', norvane.exit_message(-9))

    def test_failure_message_keeps_norvanes_last_lines(self):
        msg = norvane.failure_message('set-ip', 11, 'norvane: noise\nnorvane: 10.200.1.3: not at 10.200.4.5\n\n')
        self.assertTrue(msg.startswith('norvane set-ip: the change of address was acknowledged'))
        self.assertIn('(exit 11)', msg)
        self.assertTrue(msg.endswith('norvane: noise / norvane: 10.200.1.3: not at 10.200.4.5'))
        self.assertEqual(norvane.failure_message('discover', 9, ''),
                         'norvane discover: %s (exit 9)' % norvane.EXIT_MESSAGES[9])


class Parsing(unittest.TestCase):
    DISCOVERED = json.dumps([
        {'mac': '00:1A:2B:00:00:01', 'ip': '10.200.1.1', 'serial': 'NV10000001',
         'interfaces': ['eth0'], 'found_by': ['broadcast:eth0', 'scan']},
        {'mac': '001a.2b00.0002', 'ip': '10.9.7.2', 'serial': 'NV10000002', 'interfaces': [], 'found_by': ['scan']},
    ], indent=4)

    def test_appliances_and_lookup_by_any_mac_form(self):
        found = norvane.parse_appliances(self.DISCOVERED)
        self.assertEqual(found[0], {'mac': '00:1A:2B:00:00:01', 'ip': '10.200.1.1', 'serial': 'NV10000001',
                                    'interfaces': ['eth0'], 'found_by': ['broadcast:eth0', 'scan']})
        self.assertEqual(norvane.find_appliance(found, '00-1a-2b-00-00-02')['ip'], '10.9.7.2')
        self.assertIsNone(norvane.find_appliance(found, '00:1A:2B:00:00:03'))
        self.assertIsNone(norvane.find_appliance(found, 'not a mac'))

    def test_nothing_found_and_malformed_output(self):
        self.assertEqual(norvane.parse_appliances('[\n]\n'), [])
        self.assertEqual(norvane.parse_appliances(''), [])
        for text in ('{"mac": "x"}', '[{"ip": "10.200.1.1"}]', 'MAC IP'):
            self.assertRaises(ValueError, norvane.parse_appliances, text)
        self.assertRaises(ValueError, norvane.parse_report, '[1, 2]')

    def test_report_outcomes_decide_changed_and_failures(self):
        entries = norvane.parse_report(json.dumps([
            {'mac': 'A', 'old_ip': '10.200.1.1', 'new_ip': '10.200.20.1', 'outcome': 'already there', 'error': None},
            {'mac': 'B', 'old_ip': None, 'new_ip': '10.200.20.2', 'outcome': 'not found', 'error': 'no answer'},
            {'mac': 'C', 'old_ip': '10.200.1.3', 'new_ip': '10.200.20.3', 'outcome': 'interrupted', 'error': None},
        ]))
        self.assertEqual(provision.outcome(1, entries, False), (False, ['B: no answer', 'C: interrupted']))
        entries[0]['outcome'] = 'moved'
        self.assertEqual(provision.outcome(1, entries, False)[0], True)

    def test_dry_run_changes_only_when_a_row_would_change(self):
        dry = [{'mac': 'A', 'ip': '10.200.1.1', 'new_ip': '10.200.1.1', 'action': 'already there'},
               {'mac': 'B', 'ip': None, 'new_ip': '10.200.20.2', 'action': 'not found'}]
        self.assertEqual(provision.outcome(1, dry, True), (False, ['B: not found']))


class Plan(unittest.TestCase):
    def test_rows_become_csv_with_quoted_passwords(self):
        rows = [{'mac': '00:1A:2B:00:00:01', 'ip': '10.200.20.1', 'password': None},
                {'mac': '00:1A:2B:00:00:02', 'ip': '10.200.20.2', 'password': 'other,"pw" '}]
        self.assertEqual(provision.plan_text(rows),
                         'mac,ip,password\n00:1A:2B:00:00:01,10.200.20.1,\n'
                         '00:1A:2B:00:00:02,10.200.20.2,"other,""pw"" "\n')
        self.assertEqual(provision.plan_text(rows[:1]), 'mac,ip\n00:1A:2B:00:00:01,10.200.20.1\n')


class SiteBackup(unittest.TestCase):
    def test_report_rows_map_to_folder_and_change_only_on_new_content(self):
        entries = [
            {'mac': '00-1a-2b-00-00-01', 'ip': '10.200.1.1', 'serial': 'S1', 'file': '/stage/00-1A-2B-00-00-01.cfg',
             'outcome': 'ok', 'error': None},
            {'mac': '00:1A:2B:00:00:02', 'ip': '10.200.1.2', 'serial': 'S2', 'file': '/stage/00-1A-2B-00-00-02.cfg',
             'outcome': 'ok', 'error': None},
            {'mac': '00:1A:2B:00:00:03', 'ip': '10.200.1.3', 'serial': 'S3', 'file': None,
             'outcome': 'failed', 'error': 'No Response !!!'},
        ]
        shas = {'/stage/00-1A-2B-00-00-01.cfg': 'new', '/site/00-1A-2B-00-00-01.cfg': 'old',
                '/stage/00-1A-2B-00-00-02.cfg': 'same', '/site/00-1A-2B-00-00-02.cfg': 'same'}
        rows, failed = config.site_rows(entries, '/site', shas.get)
        self.assertEqual([(r['path'], r['sha256'], r['previous_sha256'], r['changed'], r['outcome']) for r in rows],
                         [('/site/00-1A-2B-00-00-01.cfg', 'new', 'old', True, 'ok'),
                          ('/site/00-1A-2B-00-00-02.cfg', 'same', 'same', False, 'ok'),
                          (None, None, None, False, 'failed')])
        self.assertEqual(rows[0]['mac'], '00-1a-2b-00-00-01')
        self.assertEqual(failed, ['00:1A:2B:00:00:03: No Response !!!'])
        del shas['/site/00-1A-2B-00-00-02.cfg']
        self.assertTrue(config.site_rows(entries, '/site', shas.get)[0][1]['changed'])


class ArgumentSpec(unittest.TestCase):
    def test_shared_options_added_and_password_kept_secret(self):
        own = dict(target=dict(type='str', required=True))
        spec = norvane.argument_spec(own)
        self.assertEqual(sorted(spec), ['norvane_path', 'password', 'scan', 'target', 'timeout'])
        self.assertTrue(spec['password']['no_log'])
        self.assertEqual(spec['scan'], dict(type='list', elements='str', default=[]))
        self.assertEqual(list(own), ['target'])
        self.assertNotIn('password', norvane.argument_spec({}, password=False))


class TempFiles(unittest.TestCase):
    def test_private_files_live_in_the_folder_ansible_removes(self):
        class Module(object):
            params = dict(norvane_path=sys.executable, password='secret')
            tmpdir = tempfile.mkdtemp()

        try:
            path = norvane.Norvane(Module()).write_private('plan.csv', 'mac,ip,password\n')
            self.assertTrue(path.startswith(Module.tmpdir + os.sep))
            self.assertEqual(os.stat(path).st_mode & 0o777, 0o600)
        finally:
            shutil.rmtree(Module.tmpdir)


if __name__ == '__main__':
    unittest.main()
