#!/bin/sh
# Runs a command with a /dev/shm of its own, so the named objects of the
# schedulers it starts (the reload event, the DMI setters' mutex, the queue's
# publication) cannot meet those of a suite that runs beside it.
set -e
unshare -m --propagation private sh -c \
  'mount -n -t tmpfs -o mode=1777,size=64m tmpfs /dev/shm && exec "$@"' sh "$@"
