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
      - At most 10 bytes, the size of the appliance's password field (one byte per Latin-1 character). norvane
        refuses a longer one before it sends anything; the task fails with C(rc) 2, its C(msg) saying bad input,
        nothing sent, and norvane's words naming the limit.
    type: str
'''

    # scan and timeout of the modules that ask one appliance, named by their target.
    TARGET = r'''
options:
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
'''
