#!/usr/bin/python3
"""An FTP server for the failover tests: user printorb with an empty
password may upload into ROOT; any other login is refused with 530.

usage: ftp-server.py ROOT      prints the port it listens on; logs to ROOT/../ftp.log
"""
import logging
import os
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer

root = sys.argv[1]
os.makedirs(root, exist_ok=True)
logging.basicConfig(filename=os.path.join(os.path.dirname(os.path.abspath(root)), "ftp.log"), level=logging.DEBUG)
authorizer = DummyAuthorizer()
authorizer.add_user("printorb", "", root, perm="elradfmw")
handler = FTPHandler
handler.authorizer = authorizer
handler.auth_failed_timeout = 0
handler.permit_foreign_addresses = False
server = FTPServer(("127.0.0.1", 0), handler)
print(server.address[1], flush=True)
server.serve_forever()
