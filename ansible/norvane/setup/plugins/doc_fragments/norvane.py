# -*- coding: utf-8 -*-
# The options every module of norvane.setup shares, documented once.


class ModuleDocFragment(object):

    DOCUMENTATION = r'''
options:
  norvane_path:
    description:
      - Path of the C(norvane) program on the host; searched on C(PATH) when not given.
    type: path
requirements:
  - norvane on the target host
'''

    PASSWORD = r'''
options:
  password:
    description:
      - The appliances' password, handed to norvane through its environment, never on its command line.
    type: str
'''
