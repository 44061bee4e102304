#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright 2026 Norvane Setup developers; all rights reserved (see LICENSE).

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
---
module: config
short_description: Back up a Norvane appliance's configuration image, or a whole site's, or restore one
description:
  - With C(state=backup), reads the appliance's 8192-byte image (C(norvane backup)) and writes it to C(path) on
    the host, atomically and readable by its owner alone; changed only when the file's content changed.
  - With C(state=backup) and C(dir) instead of C(target) and C(path), backs up every appliance found
    (C(norvane backup-all), all at once) into C(dir)/<MAC with dashes>.cfg; changed only when some file's
    content changed. When some appliances fail, the others' files are still written and the task fails
    naming the ones that failed; a failed appliance's last good image stays as it was.
  - The images in C(dir) are the record of the site's appliances. One backed up before that this run did not
    find keeps its image (in C(archive) too), is named in C(missing_appliances), and fails the task or warns
    (C(missing)). To retire an appliance, remove its image from C(dir).
  - With C(state=restore), reads the appliance's current image first and loads C(path) into it
    (C(norvane restore --yes)) only when the two differ.
  - In check mode the image is read and compared, but no file is written and no image is sent.
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
      - Required unless C(dir) is given.
    type: str
  path:
    description:
      - The image file on the host.
      - Required with C(target).
    type: path
  dir:
    description:
      - Every appliance found is backed up into this folder on the host, as C(<MAC with dashes>.cfg), made
        (mode 0700) when missing. Only with C(state=backup); excludes C(target) and C(path).
    type: path
  archive:
    description:
      - With C(dir), a tar file on the host holding every image in C(dir), this run's and the last good one of
        each appliance that failed or was not found, so that a failed or partial run never leaves it holding
        fewer. Written (atomically, 0600) only when its content changed, and never empty, so that one
        C(ansible.builtin.fetch) brings a whole site to the controller.
      - Its members are named C(<MAC with dashes>.cfg) and keep their file's modification time.
    type: path
  missing:
    description:
      - With C(dir), what an appliance with an image in C(dir) that this run did not find does to the task
        (the site shrank, or some appliances are off or unreachable). Either way it is named in
        C(missing_appliances) and its image is kept, in C(dir) and in C(archive).
      - C(fail) fails the task once the images found are saved; C(warn) only warns.
    type: str
    choices: [fail, warn]
    default: fail
  state:
    description:
      - C(backup) copies the appliance's image to C(path); C(restore) loads C(path) into the appliance.
    type: str
    choices: [backup, restore]
    default: backup
notes:
  - Supports check mode.
  - An image holds the appliance's settings; the file is created with mode 0600. Only a regular file is
    replaced; a symbolic link is written through.
'''

EXAMPLES = r'''
- name: Back up one appliance
  norvane.setup.config:
    target: "00:1A:2B:00:00:01"
    path: /var/backups/norvane/00-1A-2B-00-00-01.cfg
    password: "{{ vault_norvane_password }}"

- name: Back up every appliance of the site, and make one archive of them
  norvane.setup.config:
    dir: /var/backups/norvane
    archive: /var/backups/norvane.tar
    password: "{{ vault_norvane_password }}"
  register: site

- name: The site's images to the controller
  ansible.builtin.fetch:
    src: /var/backups/norvane.tar
    dest: "backups/{{ inventory_hostname }}.tar"
    flat: true

- name: Load a saved image back
  norvane.setup.config:
    target: 10.200.1.1
    path: /var/backups/norvane/00-1A-2B-00-00-01.cfg
    state: restore
    password: "{{ vault_norvane_password }}"
'''

RETURN = r'''
path:
  description: The image file.
  returned: success, with target
  type: str
  sample: /var/backups/norvane/00-1A-2B-00-00-01.cfg
sha256:
  description: SHA-256 of the appliance's image (after a restore, of the file loaded).
  returned: success, with target
  type: str
  sample: 9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08
previous_sha256:
  description: SHA-256 of the file (backup) or of the appliance's image (restore) before the task.
  returned: success, with target
  type: str
appliances:
  description: With C(dir), one entry per appliance found, those that failed too.
  returned: with dir
  type: list
  elements: dict
  contains:
    mac:
      description: The appliance's MAC, as it reported it.
      type: str
    ip:
      description: The address it answered from.
      type: str
    serial:
      description: Its serial number.
      type: str
    path:
      description: Its image file in C(dir); null when it failed.
      type: str
    sha256:
      description: SHA-256 of its image; null when it failed.
      type: str
    previous_sha256:
      description: SHA-256 of the file before the task; null when there was none.
      type: str
    changed:
      description: Whether its file's content changed (in check mode, would change).
      type: bool
    outcome:
      description: C(ok) or C(failed).
      type: str
    error:
      description: Why it failed; null when it did not.
      type: str
  sample:
    - mac: "00:1A:2B:00:00:01"
      ip: 10.200.1.1
      serial: NV10000001
      path: /var/backups/norvane/00-1A-2B-00-00-01.cfg
      sha256: 9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08
      previous_sha256: null
      changed: true
      outcome: ok
      error: null
failed_appliances:
  description: With C(dir), the appliances that failed, each its MAC followed by the reason.
  returned: with dir, when some failed
  type: list
  elements: str
  sample: ["00:1A:2B:00:00:07: no answer"]
missing_appliances:
  description:
    - With C(dir), the appliances with an image in C(dir) that this run did not find, by MAC (with colons),
      in order. Their images are kept; C(missing) decides whether the task fails.
  returned: with dir
  type: list
  elements: str
  sample: ["00:1A:2B:00:00:09"]
rc:
  description: norvane's exit code when it failed.
  returned: failure
  type: int
  sample: 3
'''

import hashlib
import io
import os
import re
import stat
import tarfile
import tempfile

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.norvane.setup.plugins.module_utils.norvane import (
    Norvane, argument_spec, canonical_mac, failure_message, parse_report)


# norvane restore loads the first 8192 bytes of a longer file.
IMAGE_SIZE = 8192

# backup-all's name for an image: the MAC, with dashes.
IMAGE_NAME = re.compile(r'^[0-9A-Fa-f]{2}(-[0-9A-Fa-f]{2}){5}\.cfg$')


def sha256_of(path, limit=-1):
    try:
        with open(path, 'rb') as handle:
            return hashlib.sha256(handle.read(limit)).hexdigest()
    except (IOError, OSError):
        return None


def read_image(module, norvane):
    """The appliance's current image, saved by norvane to a private temp file."""
    p = module.params
    path = norvane.temp_path('current.cfg')
    args = ['backup', p['target'], path] + norvane.common_options(p['scan'], None, p['timeout'])
    # Read before a restore too: a failure is the restore's.
    norvane.run(args, name=p['state'])
    return path


def write_atomic(dest, data):
    """data to dest, atomically, through a file beside dest renamed over it; None, or why not.
    A new file is 0600; a replaced one keeps the mode its owner gave it."""
    # A link is written through, as norvane writes its files; only a regular
    # file is replaced.
    dest = os.path.realpath(dest)
    try:
        info = os.stat(dest)
    except OSError:
        info = None
    if info is not None and not stat.S_ISREG(info.st_mode):
        return '%s is not a regular file; nothing written' % dest
    mode = stat.S_IMODE(info.st_mode) if info is not None else 0o600
    temp = None
    try:
        fd, temp = tempfile.mkstemp(prefix='.norvane-', dir=os.path.dirname(dest))
        os.fchmod(fd, mode)
        with os.fdopen(fd, 'wb') as out:
            out.write(data)
            out.flush()
            os.fsync(out.fileno())
        os.rename(temp, dest)
    except (IOError, OSError) as error:
        if temp is not None and os.path.exists(temp):
            os.unlink(temp)
        return 'could not write %s: %s' % (dest, error)
    return None


def read_bytes(path):
    with open(path, 'rb') as handle:
        return handle.read()


def install(module, source, dest):
    error = write_atomic(dest, read_bytes(source))
    if error:
        module.fail_json(msg=error, rc=10)


def site_rows(entries, folder, sha_of):
    """backup-all's report entries as the rows the module returns, each image's
    file in folder named as norvane named it, and the failures as 'MAC: why'.
    sha_of(path) is a file's SHA-256, None when there is none; an entry's
    staged image is entry['file']."""
    rows = []
    for entry in entries:
        ok = entry.get('outcome') == 'ok' and bool(entry.get('file'))
        path = os.path.join(folder, os.path.basename(entry['file'])) if ok else None
        sha = sha_of(entry['file']) if ok else None
        previous = sha_of(path) if ok else None
        rows.append(dict(mac=entry.get('mac'), ip=entry.get('ip'), serial=entry.get('serial'), path=path,
                         sha256=sha, previous_sha256=previous, changed=ok and sha != previous,
                         outcome='ok' if ok else 'failed', error=None if ok else entry.get('error')))
    failed = ['%s: %s' % (row['mac'], row['error'] or 'failed') for row in rows if row['outcome'] != 'ok']
    return rows, failed


def images_in(folder):
    """The regular files in folder that backup-all named, by name."""
    try:
        names = os.listdir(folder)
    except OSError:
        return {}
    return dict((name, os.path.join(folder, name)) for name in names
                if IMAGE_NAME.match(name) and os.path.isfile(os.path.join(folder, name)))


def missing_macs(image_names, entries):
    """The MACs, with colons, of the images whose appliance no entry reports."""
    found = set(canonical_mac(entry.get('mac')) for entry in entries)
    return sorted(name[:-len('.cfg')].upper().replace('-', ':') for name in image_names
                  if canonical_mac(name[:-len('.cfg')]) not in found)


def tar_of(paths):
    """An uncompressed tar of paths by their base names, in name order. Built
    only from the files' names, bytes and modification times, it is the same
    tar for the same files."""
    buffer = io.BytesIO()
    with tarfile.open(fileobj=buffer, mode='w', format=tarfile.USTAR_FORMAT) as tar:
        for path in sorted(paths, key=os.path.basename):
            data = read_bytes(path)
            info = tarfile.TarInfo(os.path.basename(path))
            info.size = len(data)
            info.mtime = int(os.stat(path).st_mtime)
            info.mode = 0o600
            tar.addfile(info, io.BytesIO(data))
    return buffer.getvalue()


def backup_site(module, norvane):
    """Every appliance found backed up into dir (and archive); exits the module."""
    p = module.params
    staged = norvane.temp_path('images')
    report = norvane.temp_path('report.json')
    args = ['backup-all', staged, '--report', report] + norvane.common_options(p['scan'], None, p['timeout'])
    # 3: no appliance answered, and the report says so; those backed up
    # before are then all missing.
    rc, out, err = norvane.run(args, accept=(0, 1, 3))
    try:
        entries = parse_report(read_bytes(report).decode('utf-8'))
    except (IOError, OSError, ValueError) as error:
        module.fail_json(msg='norvane backup-all: its report: %s' % error, rc=rc, stdout=out, stderr=err)
    rows, failed = site_rows(entries, p['dir'], sha256_of)
    missing = missing_macs(images_in(p['dir']), entries)
    result = dict(dir=p['dir'], appliances=rows, missing_appliances=missing)
    if not module.check_mode:
        if not os.path.isdir(p['dir']):
            try:
                os.makedirs(p['dir'], 0o700)
            except OSError as error:
                module.fail_json(msg='could not make %s: %s' % (p['dir'], error), rc=10, **result)
        for row, entry in zip(rows, entries):
            if row['changed']:
                error = write_atomic(row['path'], read_bytes(entry['file']))
                if error:
                    row.update(changed=False, outcome='failed', error=error)
                    failed.append('%s: %s' % (row['mac'], error))
    changed = any(row['changed'] for row in rows)
    # From every image in dir, not from this run's alone: an appliance that
    # failed or was not found keeps its last good image in the archive.
    images = images_in(p['dir']).values()
    if p['archive'] and images:
        data = tar_of(images)
        if hashlib.sha256(data).hexdigest() != sha256_of(p['archive']):
            changed = True
            error = None if module.check_mode else write_atomic(p['archive'], data)
            if error:
                module.fail_json(msg=error, rc=10, changed=changed, **result)
    msg = None
    if failed:
        msg = 'norvane backup-all: %d of %d appliances failed: %s' % (len(failed), len(rows), '; '.join(failed))
    elif rc != 0:
        msg = failure_message('backup-all', rc, err)
    if missing:
        text = ('%d %s backed up before not found, images kept: %s'
                % (len(missing), 'appliance' if len(missing) == 1 else 'appliances', ', '.join(missing)))
        if p['missing'] == 'warn':
            module.warn(text)
        else:
            msg = '%s; %s' % (msg, text) if msg else 'norvane backup-all: ' + text
    if msg:
        module.fail_json(msg=msg, rc=rc, failed_appliances=failed, changed=changed, **result)
    module.exit_json(changed=changed, **result)


def main():
    own = dict(
        target=dict(type='str'),
        path=dict(type='path'),
        dir=dict(type='path'),
        archive=dict(type='path'),
        missing=dict(type='str', choices=['fail', 'warn'], default='fail'),
        state=dict(type='str', choices=['backup', 'restore'], default='backup'),
    )
    module = AnsibleModule(argument_spec=argument_spec(own), supports_check_mode=True,
                           required_one_of=[('target', 'dir')],
                           mutually_exclusive=[('target', 'dir'), ('path', 'dir')],
                           required_by=dict(target='path', archive='dir'))
    p = module.params
    if p['dir'] is not None and p['state'] != 'backup':
        module.fail_json(msg='dir backs up a whole site: state must be backup', rc=2)
    norvane = Norvane(module)
    if p['dir'] is not None:
        backup_site(module, norvane)
    current = read_image(module, norvane)
    appliance_sha = sha256_of(current)
    file_sha = sha256_of(p['path'], IMAGE_SIZE if p['state'] == 'restore' else -1)
    result = dict(path=p['path'])

    if p['state'] == 'backup':
        changed = appliance_sha != file_sha
        if changed and not module.check_mode:
            install(module, current, p['path'])
        module.exit_json(changed=changed, sha256=appliance_sha, previous_sha256=file_sha, **result)

    if file_sha is None:
        module.fail_json(msg='cannot read the image %s' % p['path'], rc=2, **result)
    changed = appliance_sha != file_sha
    if changed and not module.check_mode:
        args = ['restore', p['target'], p['path'], '--yes'] + norvane.common_options(p['scan'], None, p['timeout'])
        norvane.run(args)
    module.exit_json(changed=changed, sha256=file_sha, previous_sha256=appliance_sha, **result)


if __name__ == '__main__':
    main()
