"""scripts/run as another program uses it: no terminal, a port of its own,
wait for the Serving line, fetch every page the overview links to, then TERM;
it must end within a few seconds and leave nothing behind."""

import os
import re
import subprocess
import unittest

from served_site import ERROR_MARKS, ServedSite, alive


def listening_ports():
    """Local TCP ports in the LISTEN state."""
    ports = set()
    for table in ("/proc/net/tcp", "/proc/net/tcp6"):
        with open(table) as f:
            for line in f.readlines()[1:]:
                local, state = line.split()[1], line.split()[3]
                if state == "0A":
                    ports.add(int(local.rsplit(":", 1)[1], 16))
    return ports


class Lifecycle(unittest.TestCase):
    def test_serve_fetch_every_linked_page_and_stop(self):
        site = ServedSite()
        try:
            self.assertIn(site.port, listening_ports())
            status, overview = site.fetch("/")
            self.assertEqual(status, 200)
            self.assertIn("STAT *** OK COMMAND (cmd: hestov)", overview)
            self.assertIn("<code>vmstat</code>", overview)
            links = sorted(set(re.findall(r'href="(/[^"]*)"', overview)) - {"/static/site.css"})
            self.assertGreaterEqual(len(links), 8, links)
            charts = 0
            for link in links:
                status, page = site.fetch(link)
                self.assertEqual(status, 200, link)
                self.assertTrue(page.rstrip().endswith("</html>"), link)
                for mark in ERROR_MARKS:
                    self.assertNotIn(mark, page, link)
                charts += '<svg id="cpu-chart"' in page
            self.assertEqual(charts, 1)
        finally:
            pids, run_dir, port = site.pids, site.run_dir, site.port
            seconds = site.stop()
        self.assertEqual(site.proc.returncode, 0)
        self.assertLess(seconds, 8)
        self.assertGreaterEqual(len(pids), 4)  # database, Korbad, lighttpd, collector
        self.assertEqual([p for p in pids if alive(p)], [])
        self.assertFalse(os.path.exists(run_dir))
        self.assertNotIn(port, listening_ports())
        segments = subprocess.run(["ipcs", "-m"], capture_output=True, text=True).stdout
        self.assertNotIn("0x%08x" % (0x7ab00000 + port), segments)


if __name__ == "__main__":
    unittest.main()
