"""A temporary folder every user can enter, for the check cases that run the
program as another user (setpriv). TMPDIR may be a folder of root's alone,
so the folder goes under the first of TMPDIR, /tmp and /dev/shm that every
user can pass through, as the GoogleTest helpers' SharedDirectory does; it
is removed with everything in it when the case ends."""
import os
import stat
import tempfile


def every_user_enters(folder):
    path = os.path.realpath(folder)
    while True:
        try:
            mode = os.stat(path).st_mode
        except OSError:
            return False
        if not stat.S_ISDIR(mode) or not mode & stat.S_IXOTH:
            return False
        if path == "/":
            return True
        path = os.path.dirname(path)


def shared_temporary_directory():
    """A TemporaryDirectory (0755) that another user can reach."""
    for parent in (tempfile.gettempdir(), "/tmp", "/dev/shm"):
        if every_user_enters(parent):
            folder = tempfile.TemporaryDirectory(dir=parent)
            os.chmod(folder.name, 0o755)
            return folder
    raise RuntimeError("neither TMPDIR, /tmp nor /dev/shm lets every user through")
