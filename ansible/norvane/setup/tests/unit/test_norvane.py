# Exit codes into messages, and norvane's JSON into what the modules return.
# Run with the collection's parent on PYTHONPATH (tools/support/ansible-sanity).

from __future__ import absolute_import, division, print_function
__metaclass__ = type

import contextlib
import io
import json
import os
import shutil
import sys
import tarfile
import tempfile
import unittest

from ansible.module_utils import basic
from ansible.module_utils.common import warnings
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
        options = norvane.argument_spec(own)
        self.assertEqual(sorted(options), ['norvane_path', 'password', 'scan', 'target', 'timeout'])
        self.assertTrue(options['password']['no_log'])
        self.assertEqual(options['scan'], dict(type='list', elements='str', default=[]))
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


# A norvane that writes STDERR, saves IMAGES ({MAC: one byte, repeated})
# for backup and backup-all, reports FAILED as refused, and exits RC.
FAKE_NORVANE = """#!%s
import json, os, sys
RC, STDERR, IMAGES, FAILED = %r
args = sys.argv[1:]
sys.stderr.write(STDERR)
def save(path, byte):
    with open(path, 'wb') as out:
        out.write(byte.encode() * 8192)
if args[0] == 'backup' and RC == 0:
    save(args[2], list(IMAGES.values())[0])
elif args[0] == 'backup-all':
    os.makedirs(args[1])
    entries = [dict(mac=mac, file=os.path.join(args[1], mac.upper().replace(':', '-') + '.cfg'), outcome='ok')
               for mac in IMAGES]
    for entry in entries:
        save(entry['file'], IMAGES[entry['mac']])
    entries += [dict(mac=mac, file=None, outcome='failed', error='Invalid Password !!!') for mac in FAILED]
    with open(args[args.index('--report') + 1], 'w') as report:
        json.dump(entries, report)
sys.exit(RC)
"""


class ModuleRuns(unittest.TestCase):
    """Whole modules run against a fake norvane."""

    def setUp(self):
        self.work = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, self.work)
        self.runs = 0

    def run_module(self, module, args, check_mode=False, rc=0, stderr='', images=None, failed=()):
        """module's result (its printed JSON, sanitised) for args, norvane faked as FAKE_NORVANE says."""
        self.runs += 1
        fake = os.path.join(self.work, 'norvane-%d' % self.runs)
        with open(fake, 'w') as out:
            out.write(FAKE_NORVANE % (sys.executable, (rc, stderr, images or {}, list(failed))))
        os.chmod(fake, 0o700)
        tmp = tempfile.mkdtemp(dir=self.work)
        basic._ANSIBLE_ARGS = json.dumps({'ANSIBLE_MODULE_ARGS': dict(
            args, norvane_path=fake, _ansible_check_mode=check_mode, _ansible_tmpdir=tmp,
            _ansible_no_log=True)}).encode()
        del warnings._global_warnings[:]
        printed = io.StringIO()
        with contextlib.redirect_stdout(printed):
            self.assertRaises(SystemExit, module.main)
        return printed.getvalue()

    def result(self, *args, **kwargs):
        return json.loads(self.run_module(*args, **kwargs))

    def test_check_mode_backup_of_one_appliance_writes_nothing(self):
        path = os.path.join(self.work, 'one.cfg')
        result = self.result(config, dict(target='10.200.1.1', path=path), check_mode=True, images={'A': 'a'})
        self.assertTrue(result['changed'])
        self.assertFalse(os.path.exists(path))

    def test_a_restore_that_cannot_read_the_appliance_says_restore(self):
        path = os.path.join(self.work, 'golden.cfg')
        with open(path, 'wb') as out:
            out.write(b'g' * 8192)
        result = self.result(config, dict(target='10.200.1.1', path=path, state='restore'), rc=4,
                             stderr='norvane: 10.200.1.1: Invalid Password !!!\n')
        self.assertTrue(result['failed'])
        self.assertTrue(result['msg'].startswith('norvane restore: the appliance refused the password'),
                        result['msg'])

    def test_plan_row_password_refused_and_never_shown(self):
        rows = [dict(mac='00:1A:2B:00:00:01', ip='10.200.20.1', password='pw-eleven-b')]
        printed = self.run_module(provision, dict(rows=rows), rc=2,
                                  stderr='norvane: plan row 2: a password has at most 10 bytes\n')
        self.assertNotIn('pw-eleven-b', printed)
        result = json.loads(printed)
        self.assertTrue(result['failed'])
        self.assertIn('bad input: nothing was sent (exit 2): norvane: plan row 2: a password has at most 10 bytes',
                      result['msg'])

    def site(self, images=None, failed=(), **args):
        site = dict(dir=os.path.join(self.work, 'site'), archive=os.path.join(self.work, 'site.tar'))
        site.update(args)
        return self.result(config, site, images=images, failed=failed, rc=1 if failed else 0)

    def archived(self):
        with tarfile.open(os.path.join(self.work, 'site.tar')) as tar:
            return dict((member.name, tar.extractfile(member).read()[:1]) for member in tar.getmembers())

    def test_a_site_that_refused_every_password_keeps_its_images_and_archive(self):
        self.assertFalse(self.site(images={'00:1A:2B:00:00:01': 'a', '00:1A:2B:00:00:02': 'b'}).get('failed'))
        with open(os.path.join(self.work, 'site.tar'), 'rb') as archive:
            before = archive.read()
        result = self.site(failed=['00:1A:2B:00:00:01', '00:1A:2B:00:00:02'])
        self.assertTrue(result['failed'])
        self.assertFalse(result['changed'])
        self.assertEqual(result['missing_appliances'], [])
        with open(os.path.join(self.work, 'site.tar'), 'rb') as archive:
            self.assertEqual(archive.read(), before)

    def test_a_site_that_shrank_names_the_missing_and_keeps_their_images(self):
        self.site(images={'00:1A:2B:00:00:01': 'a', '00:1A:2B:00:00:02': 'b', '00:1a:2b:00:00:03': 'c'})
        result = self.site(images={'00:1A:2B:00:00:01': 'A'})
        self.assertTrue(result['failed'])
        self.assertTrue(result['changed'])
        self.assertEqual(result['missing_appliances'], ['00:1A:2B:00:00:02', '00:1A:2B:00:00:03'])
        self.assertIn('2 appliances backed up before not found', result['msg'])
        self.assertEqual(self.archived(), {'00-1A-2B-00-00-01.cfg': b'A', '00-1A-2B-00-00-02.cfg': b'b',
                                           '00-1A-2B-00-00-03.cfg': b'c'})
        result = self.site(images={'00:1A:2B:00:00:01': 'A'}, missing='warn')
        self.assertFalse(result.get('failed'))
        self.assertFalse(result['changed'])
        self.assertIn('00:1A:2B:00:00:02, 00:1A:2B:00:00:03', result['warnings'][0])
        self.assertEqual(len(self.archived()), 3)


if __name__ == '__main__':
    unittest.main()
