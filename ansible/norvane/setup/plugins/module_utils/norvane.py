# -*- coding: utf-8 -*-
# Shared by the norvane.setup modules: finds and runs norvane, hands it the
# password without putting it on the command line, turns its exit codes into
# messages and reads its JSON. The work and its checks stay in norvane.

from __future__ import absolute_import, division, print_function
__metaclass__ = type

import json
import os
import tempfile

# norvane's stable exit codes, as its README lists them.
EXIT_MESSAGES = {
    0: 'done',
    1: 'one or more appliances failed or did not answer',
    2: 'bad input: nothing was sent',
    3: 'no response within the timeout (No Response !!!)',
    4: 'the appliance refused the password (Invalid Password !!!)',
    5: 'the appliance refused the request (Invalid REQUEST !!!)',
    6: 'the appliance reported an internal error (Internal Error !!!)',
    7: 'the appliance reported a version mismatch (FlashInfo Version Mismatched Error !!!)',
    8: 'the appliance reported an unknown error status (UnKnown Error !!!)',
    9: 'network: no socket could be opened or a request could not be sent',
    10: 'a file (image, report or standard output) could not be written or is not a regular file',
    11: 'the change of address was acknowledged, but the appliance does not answer from its new address',
    12: 'no usable login URL',
    13: 'not confirmed: nothing was sent',
    14: 'appliances answered, but none was chosen (none matches, none has a file or none is in the plan)',
    129: 'interrupted by SIGHUP; the report says what was done',
    130: 'interrupted by SIGINT; the report says what was done',
    143: 'interrupted by SIGTERM; the report says what was done',
}

COMMON_ARGS = dict(
    norvane_path=dict(type='path'),
    timeout=dict(type='float'),
)

PASSWORD_ARG = dict(password=dict(type='str', no_log=True))

SCAN_ARG = dict(scan=dict(type='list', elements='str', default=[]))


def argument_spec(own, password=True):
    """A module's argument_spec: its own options, scan, norvane_path, timeout and password."""
    options = dict(own)
    options.update(SCAN_ARG)
    options.update(COMMON_ARGS)
    if password:
        options.update(PASSWORD_ARG)
    return options


def exit_message(rc):
    """The meaning of norvane's exit code rc (a signal's when rc < 0)."""
    if rc in EXIT_MESSAGES:
        return EXIT_MESSAGES[rc]
    if rc < 0:
        return 'norvane was killed by signal %d' % -rc
    return 'norvane exited with unknown code %d' % rc


def failure_message(cmd_name, rc, stderr):
    """msg for a failed run: the code's meaning, then norvane's own last words."""
    text = 'norvane %s: %s (exit %d)' % (cmd_name, exit_message(rc), rc)
    detail = [line.strip() for line in (stderr or '').splitlines() if line.strip()]
    if detail:
        text += ': ' + ' / '.join(detail[-3:])
    return text


def parse_appliances(text):
    """discover --format json into a list of dicts with the keys modules return."""
    data = json.loads(text) if text and text.strip() else []
    if not isinstance(data, list):
        raise ValueError('norvane discover printed no JSON list')
    appliances = []
    for item in data:
        if not isinstance(item, dict) or 'mac' not in item:
            raise ValueError('norvane discover printed an entry with no MAC')
        appliances.append(dict(
            mac=item['mac'],
            ip=item.get('ip'),
            serial=item.get('serial'),
            found_by=list(item.get('found_by') or []),
            interfaces=list(item.get('interfaces') or []),
        ))
    return appliances


def parse_report(text):
    """A --report file (or provision's --dry-run JSON): a list of entries."""
    data = json.loads(text) if text and text.strip() else []
    if not isinstance(data, list) or not all(isinstance(e, dict) for e in data):
        raise ValueError('the report is no JSON list of entries')
    return data


def canonical_mac(text):
    """A MAC in one form, whichever of norvane's forms it was written in."""
    digits = ''.join(c for c in (text or '') if c not in ':-.').upper()
    return digits if len(digits) == 12 else None


def find_appliance(appliances, mac):
    want = canonical_mac(mac)
    for appliance in appliances:
        if want is not None and canonical_mac(appliance['mac']) == want:
            return appliance
    return None


def failed_rows(entries):
    """Report entries whose appliance did not end well, as 'MAC: why'."""
    good = ('moved', 'already there', 'ok', 'no file')
    return ['%s: %s' % (e.get('mac'), e.get('error') or e.get('outcome'))
            for e in entries if e.get('outcome') not in good]


class Norvane(object):
    """Runs norvane for one module; fails the module with a clear msg."""

    def __init__(self, module):
        self.module = module
        self.tempdir = None
        path = module.params.get('norvane_path')
        self.binary = path or module.get_bin_path('norvane', required=False)
        if not self.binary:
            module.fail_json(msg='norvane was not found on PATH; install it or set norvane_path')
        if not os.access(self.binary, os.X_OK) or os.path.isdir(self.binary):
            module.fail_json(msg='norvane_path %s is no program this host can run' % self.binary)
        self.environ = {}
        password = module.params.get('password')
        if password is not None:
            self.environ['NORVANE_PASSWORD'] = password
        # A password of the operator's environment must not leak into a run
        # that was given none.
        elif 'NORVANE_PASSWORD' in os.environ:
            self.environ['NORVANE_PASSWORD'] = ''

    def temp_path(self, name):
        """A path in a private (0700) directory removed when the module ends."""
        if self.tempdir is None:
            # Within the module's own temporary directory, which Ansible
            # removes with all it holds (plans with passwords, images) when
            # the module ends; a cleanup file is only unlinked.
            self.tempdir = tempfile.mkdtemp(prefix='norvane-', dir=self.module.tmpdir)
        return os.path.join(self.tempdir, name)

    def write_private(self, name, data):
        """A 0600 file holding data (a plan with passwords, say)."""
        path = self.temp_path(name)
        fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o600)
        with os.fdopen(fd, 'wb') as handle:
            handle.write(data if isinstance(data, bytes) else data.encode('utf-8'))
        return path

    def common_options(self, scan=None, interface=None, timeout=None):
        args = []
        for cidr in scan or []:
            args += ['--scan', cidr]
        for name in interface or []:
            args += ['--interface', name]
        if timeout is not None:
            args += ['--timeout', str(timeout)]
        return args

    def run(self, args, accept=(0,), name=None):
        """Runs norvane ARGS; returns (rc, stdout, stderr), or fails the module
        with a msg naming the subcommand, or name when the run is a step of another."""
        cmd = [self.binary] + list(args)
        rc, out, err = self.module.run_command(cmd, environ_update=self.environ, check_rc=False)
        if rc not in accept:
            self.fail(name or args[0], rc, err, stdout=out)
        return rc, out, err

    def fail(self, cmd_name, rc, stderr, **extra):
        self.module.fail_json(msg=failure_message(cmd_name, rc, stderr), rc=rc,
                              stderr=stderr, meaning=exit_message(rc), **extra)

    def discover(self, scan=None, interface=None, timeout=None):
        _, out, err = self.run(['discover', '--format', 'json'] + self.common_options(scan, interface, timeout))
        try:
            return parse_appliances(out)
        except ValueError as error:
            self.module.fail_json(msg='norvane discover: %s' % error, stdout=out, stderr=err)
