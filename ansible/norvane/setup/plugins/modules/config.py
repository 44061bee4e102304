#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright 2026 Norvane Setup developers; all rights reserved (see LICENSE).

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
---
module: config
short_description: Back up a Norvane appliance's configuration image, or restore one
description:
  - With C(state=backup), reads the appliance's 8192-byte image (C(norvane backup)) and writes it to C(path) on
    the host, atomically and readable by its owner alone; changed only when the file's content changed.
  - With C(state=restore), reads the appliance's current image first and loads C(path) into it
    (C(norvane restore --yes)) only when the two differ.
  - In check mode the image is read and compared, but no file is written and no image is sent.
version_added: "1.2.0"
author: Norvane Setup developers
extends_documentation_fragment:
  - norvane.setup.norvane
  - norvane.setup.norvane.password
options:
  target:
    description:
      - The appliance, by its MAC address (found by a discovery) or its IP address (asked directly).
    type: str
    required: true
  path:
    description:
      - The image file on the host.
    type: path
    required: true
  state:
    description:
      - C(backup) copies the appliance's image to C(path); C(restore) loads C(path) into the appliance.
    type: str
    choices: [backup, restore]
    default: backup
  scan:
    description:
      - Address ranges (CIDR) to sweep when C(target) is a MAC behind a router.
    type: list
    elements: str
    default: []
  timeout:
    description:
      - Seconds to wait for the appliance's reply (norvane's default is 5).
    type: float
notes:
  - Supports check mode.
  - An image holds the appliance's settings; the file is created with mode 0600.
'''

EXAMPLES = r'''
- name: Back up one appliance
  norvane.setup.config:
    target: "00:1A:2B:00:00:01"
    path: /var/backups/norvane/00-1A-2B-00-00-01.cfg
    password: "{{ vault_norvane_password }}"

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
  returned: success
  type: str
  sample: /var/backups/norvane/00-1A-2B-00-00-01.cfg
sha256:
  description: SHA-256 of the appliance's image (after a restore, of the file loaded).
  returned: success
  type: str
  sample: 9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08
previous_sha256:
  description: SHA-256 of the file (backup) or of the appliance's image (restore) before the task.
  returned: success
  type: str
rc:
  description: norvane's exit code when it failed.
  returned: failure
  type: int
  sample: 3
'''

import hashlib
import os
import stat
import tempfile

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.norvane.setup.plugins.module_utils.norvane import (
    COMMON_ARGS, PASSWORD_ARG, Norvane)


# norvane restore loads the first 8192 bytes of a longer file.
IMAGE_SIZE = 8192


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
    norvane.run(args)
    return path


def install(module, source, dest):
    """source's bytes to dest, atomically, through a file beside dest renamed over it.
    A new file is 0600; a replaced one keeps the mode its owner gave it."""
    # A link is written through, as norvane writes its files; only a regular
    # file is replaced.
    dest = os.path.realpath(dest)
    directory = os.path.dirname(dest)
    try:
        info = os.stat(dest)
    except OSError:
        info = None
    if info is not None and not stat.S_ISREG(info.st_mode):
        module.fail_json(msg='%s is not a regular file; nothing written' % dest, rc=10)
    mode = stat.S_IMODE(info.st_mode) if info is not None else 0o600
    fd, temp = tempfile.mkstemp(prefix='.norvane-', dir=directory)
    try:
        os.fchmod(fd, mode)
        with open(source, 'rb') as src, os.fdopen(fd, 'wb') as out:
            out.write(src.read())
            out.flush()
            os.fsync(out.fileno())
        os.rename(temp, dest)
    except (IOError, OSError) as error:
        if os.path.exists(temp):
            os.unlink(temp)
        module.fail_json(msg='could not write %s: %s' % (dest, error), rc=10)


def main():
    argument_spec = dict(
        target=dict(type='str', required=True),
        path=dict(type='path', required=True),
        state=dict(type='str', choices=['backup', 'restore'], default='backup'),
        scan=dict(type='list', elements='str', default=[]),
    )
    argument_spec.update(COMMON_ARGS)
    argument_spec.update(PASSWORD_ARG)
    module = AnsibleModule(argument_spec=argument_spec, supports_check_mode=True)
    p = module.params
    norvane = Norvane(module)
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
