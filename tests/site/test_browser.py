"""The example site in headless Chromium, served by lighttpd through
scripts/run: every page loads, the form shows what was typed as text, the
cookie comes back, an upload arrives byte-exact, and the chart has one point
per stored sample. A screenshot of each page goes to SCREENSHOTS."""

import hashlib
import os
import tempfile
import unittest

import pymysql
from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support import expected_conditions
from selenium.webdriver.support.ui import WebDriverWait

from served_site import ERROR_MARKS, ServedSite

SCREENSHOTS = os.environ.get("SCREENSHOTS") or os.path.join(tempfile.gettempdir(), "site-screenshots")
PAGES = ["/", "/samples.page", "/chart.page", "/druvik.page", "/form.page", "/upload.page",
         "/hosts.page", "/language.page"]


def start_browser(profile):
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    # This machine has no network beyond loopback: everything Chromium would
    # fetch for itself is switched off.
    for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                 "--disable-background-networking", "--disable-component-update",
                 "--disable-sync", "--disable-dev-shm-usage", "--window-size=1200,900",
                 f"--user-data-dir={profile}"):
        options.add_argument(flag)
    browser = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    browser.set_page_load_timeout(60)
    return browser


class Browser(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.site = ServedSite()
        cls.profile = tempfile.TemporaryDirectory()
        try:
            cls.browser = start_browser(cls.profile.name)
        except Exception:
            cls.site.stop()
            cls.profile.cleanup()
            raise

    @classmethod
    def tearDownClass(cls):
        cls.browser.quit()
        cls.site.stop()
        cls.profile.cleanup()

    def open(self, path):
        self.browser.get(self.site.url + path.lstrip("/"))
        return self.browser.page_source

    def shot(self, name):
        os.makedirs(SCREENSHOTS, exist_ok=True)
        self.browser.save_screenshot(os.path.join(SCREENSHOTS, name + ".png"))

    def test_every_page_loads_without_an_error(self):
        for path in PAGES:
            with self.subTest(path=path):
                source = self.open(path)
                self.assertIn("<nav>", source)
                self.assertIn("Served by Vandrel", self.browser.find_element(By.TAG_NAME, "footer").text)
                for mark in ERROR_MARKS:
                    self.assertNotIn(mark, source)
                self.shot(path.strip("/").replace(".page", "") or "overview")

    def test_form_shows_the_typed_text_escaped_and_the_cookie_comes_back(self):
        typed = "<b>Ann</b> & \"Lee\" 'O'"
        self.open("/form.page")
        self.assertTrue(self.browser.find_elements(By.ID, "no-cookie"))
        field = self.browser.find_element(By.NAME, "visitor")
        field.send_keys(typed)
        field.submit()
        shown = WebDriverWait(self.browser, 20).until(
            expected_conditions.presence_of_element_located((By.ID, "submitted")))
        # Shown as text: the markup the visitor typed made no element.
        self.assertEqual(shown.text, typed)
        self.assertEqual(shown.find_elements(By.TAG_NAME, "b"), [])
        self.assertEqual(self.browser.find_element(By.NAME, "visitor").get_attribute("value"), typed)
        self.shot("form-answer")
        self.open("/form.page")
        self.assertEqual(self.browser.find_element(By.ID, "cookie").text, typed)
        self.assertEqual(self.browser.get_cookie("visitor")["path"], "/")

    def test_upload_arrives_byte_exact(self):
        # Line ends of both kinds, NUL bytes and a line that looks like a
        # multipart boundary, then random bytes.
        content = (b"line\r\n\r\n--\r\n------WebKitFormBoundary\r\n\x00\xff\r" +
                   os.urandom(200000) + b"\r\n--")
        with tempfile.NamedTemporaryFile(suffix=".bin") as f:
            f.write(content)
            f.flush()
            self.open("/upload.page")
            self.browser.find_element(By.NAME, "upload").send_keys(f.name)
            self.browser.find_element(By.NAME, "note").send_keys("<i>note</i>")
            self.browser.find_element(By.CSS_SELECTOR, "form button").click()
            size = WebDriverWait(self.browser, 30).until(
                expected_conditions.presence_of_element_located((By.ID, "size")))
        self.assertEqual(size.text, str(len(content)))
        self.assertEqual(self.browser.find_element(By.ID, "sha256").text,
                         hashlib.sha256(content).hexdigest())
        self.assertEqual(self.browser.find_element(By.ID, "note").text, "<i>note</i>")
        with open(self.browser.find_element(By.ID, "kept").text, "rb") as kept:
            self.assertEqual(kept.read(), content)
        self.shot("upload-answer")

    def test_chart_has_one_point_per_stored_sample(self):
        self.open("/chart.page")
        chart = self.browser.find_element(By.ID, "cpu-chart")
        points = chart.find_elements(By.CSS_SELECTOR, "circle.sample")
        first, last = int(chart.get_attribute("data-first")), int(chart.get_attribute("data-last"))
        self.assertGreaterEqual(len(points), 2)
        self.assertEqual(len(chart.find_elements(By.TAG_NAME, "polyline")), 3)
        env = self.site.run_env()
        db = pymysql.connect(unix_socket=env["MYSQL_SOCKET"], user=env["SITE_DB_USER"],
                             password=env["SITE_DB_PASSWD"], database="toolkit")
        try:
            with db.cursor() as cursor:
                cursor.execute("select count(*) from samples where taken_ms between %s and %s",
                               (first, last))
                stored = cursor.fetchone()[0]
        finally:
            db.close()
        self.assertEqual(len(points), stored)
        # Points run left to right in time order, inside the plot area.
        xs = [float(p.get_attribute("cx")) for p in points]
        self.assertEqual(xs, sorted(xs))
        self.assertEqual((xs[0], xs[-1]), (60.0, 700.0))
        self.shot("chart-checked")


if __name__ == "__main__":
    unittest.main()
