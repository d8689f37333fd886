#!/usr/bin/env python3
"""Every page of the modern look in a real browser (headless Chromium through chromedriver), and
the sharing a visitor does with it: files chosen and dropped on the upload page go up with their
progress shown, and a message sent from its form reaches the owner's inbox.

Usage: modern_pages_test.py VANTRY_BINARY SOURCE_DIR [VANTRY_CERT_BINARY]

Starts a vantry of its own on a loopback address with look=modern, both servers, HTTPS on a
port of its own (when vantry-cert is given) and every application switched on, and opens each
generated page at a phone's width and a desktop's. Each page must load the stylesheet, fit
the width without scrolling sideways, log no error in the console, give every image a text,
load nothing over plain HTTP when it came over HTTPS, lead the keyboard to its links with a
visible focus, and change its background in dark mode. All faults are reported together, by
page, width and check.

Exits with 77 (skipped) only when the browser cannot be started.
"""

import base64
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import unittest

SKIPPED = 77
WIDTHS = ((390, 844), (1280, 900))
# Server 2 asks for a login; the admin pages need none from the machine itself.
LOGIN = ("bob", "pw")
# How often TAB is pressed, at most, to reach the first link.
MAX_TABS = 4
PAGE_LOAD_LIMIT = 20  # seconds


def skip(reason):
    print("Chromium could not start: " + reason, flush=True)
    sys.exit(SKIPPED)


try:
    from selenium import webdriver
    from selenium.common.exceptions import NoSuchElementException, WebDriverException
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.action_chains import ActionChains
    from selenium.webdriver.common.by import By
    from selenium.webdriver.common.keys import Keys
except ImportError as error:
    skip("selenium is not installed for %s (%s)" % (sys.executable, error))


def loopback_address():
    # Apart from the end-to-end tests' addresses (127.100.x.x to 127.199.x.x), and from
    # another run of this test by the process id.
    pid = os.getpid()
    return "127.231.%d.%d" % ((pid >> 8) & 0xFF, pid & 0xFF)


def free_port(address, taken=()):
    for _ in range(20):
        with socket.socket() as s:
            s.bind((address, 0))
            port = s.getsockname()[1]
        if port not in taken:
            return port
    raise RuntimeError("no free port on " + address)


def wait_until(limit, condition, step=0.05):
    deadline = time.monotonic() + limit
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(step)
    return condition()


def accepts(address, port):
    try:
        with socket.create_connection((address, port), timeout=1):
            return True
    except OSError:
        return False


class Vantry:
    """A vantry in a temporary directory: its home, registry and runtime directory lie there."""

    def __init__(self, binary, source_dir, cert_binary):
        self.dir = tempfile.mkdtemp(prefix="vantry-browser-")
        self.address = loopback_address()
        self.port1 = free_port(self.address)
        self.port2 = free_port(self.address, {self.port1})
        self.tls_port = free_port(self.address, {self.port1, self.port2}) if cert_binary else 0
        self.process = None
        shutil.copy(binary, os.path.join(self.dir, "vantry"))
        os.chmod(os.path.join(self.dir, "vantry"), 0o755)
        for sub in ("run", "up", "messages", "forms"):
            os.makedirs(os.path.join(self.dir, sub))
        self.write_site(source_dir)
        tls = ""
        if cert_binary:
            subprocess.run([cert_binary, "-o", self.dir, self.address], check=True, timeout=60,
                           stdout=subprocess.DEVNULL)
            tls = "tlsPort=%d\ntlsCertificate=vantry.crt\ntlsKey=vantry.key\n" % self.tls_port
        apps = ("list=Y\nsearchEnabled=Y\nhomeEnabled=Y\nfavoritesEnabled=Y\nuserListEnabled=Y\n"
                "userListPublic=Y\nuniversalNavBarEnabled=Y\nuploadEnabled=Y\nuploadMaxSizeMB=100\n"
                "messageUploadEnabled=Y\npostEnabled=Y\n"
                "uploadSaveLocation={d}/up\nmessageSaveLocation={d}/messages\n"
                "postSaveLocation={d}/forms\n").format(d=self.dir)
        with open(os.path.join(self.dir, "Vantry.ini"), "w", encoding="utf-8") as ini:
            ini.write("[Config]\nport=%d\nwwwroot=%s/www/\nlook=modern\nlogs=Y\n%s%s"
                      "[Server-2-Config]\nport=%d\nwwwroot=%s/www/\n%s"
                      "[Server-2]\nsecondPortEnabled=Y\n"
                      % (self.port1, self.dir, apps, tls, self.port2, self.dir, apps))
        with open(os.path.join(self.dir, "registry.reg"), "w", encoding="utf-8") as reg:
            reg.write("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\VANTRY]\n"
                      "\"AuthenticationRequiredServerTwo\"=dword:00000001\n\n"
                      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\VANTRY\\USERS]\n\"%s\"=\"%s\"\n" % LOGIN)

    def write_site(self, source_dir):
        www = os.path.join(self.dir, "www")
        files = {
            "résumé.txt": "curriculum vitae",
            "notes.txt": "plain notes",
            "Ünïcödé folder/inner résumé.md": "# inner",
            "sub/readme.txt": "a folder without an index",
            "sub/deeper/file.bin": "\x00\x01",
            "with index/index.html": "<!DOCTYPE html><title>own</title><p>the owner's page",
        }
        for name, text in files.items():
            path = os.path.join(www, name)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "w", encoding="utf-8") as f:
                f.write(text)
        # An image among the files, shown in the listing as one of them.
        shutil.copy(os.path.join(source_dir, "resources", "images", "folder.gif"),
                    os.path.join(www, "photo été.gif"))
        favorites = os.path.join(self.dir, "Favorites")
        os.makedirs(os.path.join(favorites, "Links"))
        with open(os.path.join(favorites, "Example.url"), "w", encoding="utf-8") as f:
            f.write("[InternetShortcut]\r\nURL=http://example.invalid/\r\n")
        with open(os.path.join(favorites, "Links", "Café.url"), "w", encoding="utf-8") as f:
            f.write("[InternetShortcut]\r\nURL=http://cafe.invalid/\r\n")

    def start(self):
        d = self.dir
        env = dict(os.environ, XDG_RUNTIME_DIR=d + "/run", VANTRY_REGISTRY=d + "/registry.reg",
                   HOME=d, XDG_CONFIG_HOME=d + "/.config", XDG_DATA_HOME=d + "/.local/share")
        with open(d + "/stdout.txt", "wb") as out, open(d + "/stderr.txt", "wb") as err:
            self.process = subprocess.Popen(
                [d + "/vantry", "-bind", self.address, "--headless", "--no-qr"], cwd=d, env=env,
                stdin=subprocess.DEVNULL, stdout=out, stderr=err)
        ready = [(self.port1, "Server 1"), (self.port2, "Server 2")]
        if self.tls_port:
            ready.append((self.tls_port, "HTTPS"))
        for port, name in ready:
            if not wait_until(10, lambda: self.process.poll() is not None
                              or accepts(self.address, port)) or self.process.poll() is not None:
                raise RuntimeError("vantry's %s did not accept connections: %s"
                                   % (name, self.stderr()))

    def stderr(self):
        with open(self.dir + "/stderr.txt", encoding="utf-8", errors="replace") as f:
            return f.read()

    def stop(self):
        """SIGTERM by the process id (SIGKILL after 20 s); returns a fault, or None."""
        fault = None
        if self.process is not None and self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(timeout=20)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait(timeout=10)
                fault = "vantry did not end within 20 s of SIGTERM and was killed"
        if self.process is not None and self.process.returncode < 0 and fault is None:
            fault = "vantry ended by signal %d: %s" % (-self.process.returncode, self.stderr())
        shutil.rmtree(self.dir, ignore_errors=True)
        return fault

    def base(self, server):
        if server == "https":
            return "https://%s:%d" % (self.address, self.tls_port)
        if server == "two":
            return "http://%s:%d" % (self.address, self.port2)
        return "http://%s:%d" % (self.address, self.port1)


# What one page shows the checks, read in one call.
PROBE = r"""
const describe = (e) => e.outerHTML.replace(/\s+/g, ' ').slice(0, 120);
const body = document.body;
const style = body ? getComputedStyle(body) : null;
const width = window.innerWidth;
const scrolls = document.documentElement.scrollWidth > width;
const wide = [];
if (scrolls) {
  // The elements that stick out of the window while their parent does not: the culprits.
  for (const e of document.querySelectorAll('body *')) {
    const p = e.parentElement;
    if (wide.length < 3 && e.getBoundingClientRect().right > width + 0.5 &&
        p && p.getBoundingClientRect().right <= width + 0.5) wide.push(describe(e));
  }
}
const images = [...document.images].filter((i) => {
  const alt = i.getAttribute('alt');
  return alt === null || (alt.trim() === '' && i.getAttribute('role') !== 'presentation');
});
const loaded = performance.getEntriesByType('resource').map((r) => r.name);
const referenced = [...document.querySelectorAll('img[src], script[src], iframe[src], ' +
                     'link[rel~="stylesheet"][href], link[rel~="icon"][href], source[src]')]
                   .map((e) => e.src || e.href);
const forms = [...document.forms].map((f) => f.action);
return {
  title: document.title,
  text: body ? body.innerText : '',
  sheets: document.styleSheets.length,
  font: style ? style.fontFamily : '',
  margin: style ? style.marginTop : '',
  scrollWidth: document.documentElement.scrollWidth,
  innerWidth: width,
  wide: wide,
  images: images.map(describe),
  insecure: [...loaded, ...referenced].filter((u) => u.startsWith('http:')),
  insecureForms: forms.filter((u) => u.startsWith('http:')),
  firstNavLink: (document.querySelector('nav.site a[href]') || {}).href || null,
  background: style ? style.backgroundColor : '',
};
"""

FOCUS = r"""
const e = document.activeElement;
if (!e || e === document.body) return null;
const s = getComputedStyle(e);
return {tag: e.tagName, href: e.href || null, outline: s.outlineStyle, outlineWidth: s.outlineWidth,
        html: e.outerHTML.slice(0, 120)};
"""


def start_browser(width, height, accept_insecure_certs):
    options = webdriver.ChromeOptions()
    for flag in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                 "--window-size=%d,%d" % (width, height), "--lang=en-US",
                 "--no-first-run", "--no-default-browser-check"):
        options.add_argument(flag)
    binary = shutil.which("chromium") or shutil.which("chromium-browser")
    if binary:
        options.binary_location = binary
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    options.set_capability("acceptInsecureCerts", accept_insecure_certs)
    driver_path = shutil.which("chromedriver")
    if not driver_path:
        raise WebDriverException("chromedriver is not installed")
    driver = webdriver.Chrome(service=Service(driver_path), options=options)
    try:
        driver.set_page_load_timeout(PAGE_LOAD_LIMIT)
        driver.set_script_timeout(10)
        # The viewport itself has the width, whatever the window around it would leave.
        driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", {
            "width": width, "height": height, "deviceScaleFactor": 1, "mobile": False})
        driver.execute_cdp_cmd("Emulation.setEmulatedMedia", {
            "features": [{"name": "prefers-color-scheme", "value": "light"}]})
        driver.execute_cdp_cmd("Network.enable", {})
        login = base64.b64encode(("%s:%s" % LOGIN).encode()).decode()
        driver.execute_cdp_cmd("Network.setExtraHTTPHeaders",
                               {"headers": {"Authorization": "Basic " + login}})
    except Exception:
        driver.quit()
        raise
    return driver


def submit_form(field, value=None, form_action=None, without_script=False):
    """An action: fills `field` of the page's form with `value` (a file's path for a file
    field), or picks the form that posts to `form_action`, and presses its submit button;
    the page that answers is checked. `without_script` first puts a copy of the form in its
    place, free of the page script's handlers, as a browser without script has it."""

    def act(driver):
        if without_script:
            driver.execute_script(
                "for (const f of document.forms) {"
                "  const plain = f.cloneNode(true); f.replaceWith(plain);"
                "  for (const b of plain.querySelectorAll('[hidden]')) b.hidden = false; }")
        if field:
            element = driver.find_element(By.NAME, field)
            if element.get_attribute("type") != "file":
                element.clear()
            element.send_keys(value)
            form = element.find_element(By.XPATH, "./ancestor::form")
        else:
            form = next((f for f in driver.find_elements(By.TAG_NAME, "form")
                         if form_action in (f.get_attribute("action") or "").lower()), None)
            if form is None:
                raise NoSuchElementException("no form posts to " + form_action)
        old = driver.find_element(By.TAG_NAME, "html")
        form.find_element(By.CSS_SELECTOR, "input[type=submit i], button").click()
        wait_until(PAGE_LOAD_LIMIT, lambda: replaced(old, driver))
    return act


def replaced(document_element, driver):
    """True once another page than the one of `document_element` has loaded."""
    try:
        if document_element == driver.find_element(By.TAG_NAME, "html"):
            return False
        return driver.execute_script("return document.readyState") == "complete"
    except WebDriverException:
        return False


class Page:
    def __init__(self, name, path, text, server="one", action=None, error=False):
        self.name = name
        self.path = path
        self.text = text  # words the page shows: the right page was reached
        self.server = server
        self.action = action
        self.error = error  # an error page: the console's report of its own status is no fault


class ModernPagesTest(unittest.TestCase):
    vantry = None
    drivers = {}

    @classmethod
    def pages(cls):
        upload = os.path.join(cls.vantry.dir, "upload résumé.txt")
        with open(upload, "w", encoding="utf-8") as f:
            f.write("sent from the browser")
        return [
            Page("listing of the root", "/", "photo été.gif"),
            Page("listing of a folder", "/sub/", "readme.txt"),
            Page("choosing entries to download", "/sub/?select", "Download ticked as zip"),
            Page("listing of a UTF-8 folder", "/Ünïcödé folder/", "inner résumé.md"),
            Page("download page", "/VNTFileDownload.html", "résumé.txt"),
            Page("search", "/VNT/search.html", "Search"),
            Page("search results", "/VNT/search.html", "résumé.txt",
                 action=submit_form("searchTarget", "résumé")),
            Page("upload", "/VNT/fileupload.html", "Upload"),
            # Each width's upload stores the file again, under the next free name.
            Page("upload received", "/VNT/fileupload.html", "Received upload résumé",
                 action=submit_form("filename", upload, without_script=True)),
            Page("message", "/VNT/sendmessage.html", "Message"),
            Page("message received", "/VNT/sendmessage.html", "Message received",
                 action=submit_form("messageBody", "Grüße aus dem Browser")),
            Page("user list", "/VNT/userlist.html", "IP address"),
            Page("favorites", "/VNT/FAVORITES/", "Example"),
            Page("favorites folder", "/VNT/FAVORITES/Links/", "Café"),
            Page("navigator", "/VNT/navigator.html", ""),
            Page("admin home", "/admin/index.html", "Server properties"),
            Page("server properties", "/admin/serverproperties.html", "Server"),
            # Sent unchanged: the configuration is written back as it is.
            Page("server properties saved", "/admin/serverproperties.html", "changes",
                 action=submit_form(None, form_action="/admin/change.html")),
            Page("page not found", "/no-such-page.html", "Page not found", error=True),
            Page("not allowed", "/x..y.html", "Not allowed", error=True),
            Page("Server 2 listing, logged in", "/", "résumé.txt", server="two"),
            Page("Server 2 search, logged in", "/VNT/search.html", "Search", server="two"),
        ]

    def check(self, driver, page, base, width, faults):
        driver.get_log("browser")  # what earlier pages logged
        driver.get(base + page.path)
        if page.action:
            page.action(driver)
        url = driver.current_url

        def fault(check, detail):
            faults.append("%s (%s) at %d px: %s: %s" % (page.name, url, width, check, detail))

        seen = driver.execute_script(PROBE)
        if page.text and page.text not in seen["text"]:
            fault("content", "%r not shown (title %r)" % (page.text, seen["title"]))
        if seen["sheets"] == 0 or "system-ui" not in seen["font"] or seen["margin"] != "0px":
            fault("stylesheet", "%d sheets, font %r, body margin %s"
                  % (seen["sheets"], seen["font"], seen["margin"]))
        if seen["scrollWidth"] > seen["innerWidth"]:
            fault("horizontal scroll", "%d px wide in %d: %s"
                  % (seen["scrollWidth"], seen["innerWidth"], "; ".join(seen["wide"])))
        if seen["images"]:
            fault("image without alt", "; ".join(seen["images"]))
        if base.startswith("https:"):
            if seen["insecure"]:
                fault("http:// resource", "; ".join(sorted(set(seen["insecure"]))))
            if seen["insecureForms"]:
                fault("form sent over http://", "; ".join(seen["insecureForms"]))
        for entry in driver.get_log("browser"):
            message = entry.get("message", "")
            # Chromium asks for a site icon by itself; an error page reports its own status.
            if entry.get("level") != "SEVERE" or "/favicon.ico" in message.split(" ")[0]:
                continue
            if page.error and message.startswith(url):
                continue
            fault("console error", message)
        self.check_keyboard(driver, seen, fault)
        self.check_dark_mode(driver, seen, fault)

    def check_keyboard(self, driver, seen, fault):
        path = []
        for _ in range(MAX_TABS):
            ActionChains(driver).send_keys(Keys.TAB).perform()
            focused = driver.execute_script(FOCUS)
            path.append(focused["html"][:70] if focused else "the page")
            if focused and focused["tag"] == "A":
                break
        if not focused or focused["tag"] != "A":
            fault("keyboard", "%d TABs reach no link; the focus went to: %s"
                  % (MAX_TABS, " > ".join(path)))
            return
        if seen["firstNavLink"] and focused["href"] != seen["firstNavLink"]:
            fault("keyboard", "the first link reached is %s, not the navigation's first, %s"
                  % (focused["html"], seen["firstNavLink"]))
        if focused["outline"] == "none" or focused["outlineWidth"] == "0px":
            fault("focus outline", "%s has outline %s %s"
                  % (focused["html"], focused["outline"], focused["outlineWidth"]))

    def check_dark_mode(self, driver, seen, fault):
        driver.execute_cdp_cmd("Emulation.setEmulatedMedia", {
            "features": [{"name": "prefers-color-scheme", "value": "dark"}]})
        try:
            dark = driver.execute_script(
                "return document.body ? getComputedStyle(document.body).backgroundColor : ''")
        finally:
            driver.execute_cdp_cmd("Emulation.setEmulatedMedia", {
                "features": [{"name": "prefers-color-scheme", "value": "light"}]})
        if dark == seen["background"]:
            fault("dark mode", "the background stays %s" % dark)

    def run_pages(self, servers):
        faults = []
        pages = self.pages()
        for (width, _), driver in self.drivers.items():
            for server in servers:
                for page in pages:
                    if server == "https" and page.server != "one":
                        continue
                    base = self.vantry.base(page.server if server != "https" else "https")
                    try:
                        self.check(driver, page, base, width, faults)
                    except WebDriverException as error:
                        faults.append("%s (%s) at %d px: browser: %s"
                                      % (page.name, base + page.path, width,
                                         (error.msg or repr(error)).strip().splitlines()[0]))
        self.assertEqual(faults, [], "\n" + "\n".join(faults))

    def test_pages_over_http_at_a_phones_and_a_desktops_width(self):
        self.run_pages(["one"])

    def test_pages_over_https_load_nothing_over_http(self):
        if not self.vantry.tls_port:
            self.skipTest("no vantry-cert given")
        self.run_pages(["https"])


# Notes every text an upload's row shows as it changes: the progress between the start and the
# end is gone by the time the test looks.
WATCH_UPLOADS = r"""
window.uploadStates = [];
new MutationObserver((records) => {
  for (const r of records) {
    const row = r.target.closest && r.target.closest('li');
    if (!row || !r.target.classList.contains('upload-state')) continue;
    for (const n of r.addedNodes) {
      window.uploadStates.push([row.querySelector('.upload-name').textContent, n.data]);
    }
  }
}).observe(document.getElementById('upload-list'), {subtree: true, childList: true});
"""

ROWS = r"""
return [...document.querySelectorAll('#upload-list li')].map((li) => ({
  name: li.querySelector('.upload-name').textContent,
  outcome: li.dataset.outcome || null,
  state: li.querySelector('.upload-state').textContent,
  value: li.querySelector('progress').value,
  max: li.querySelector('progress').max,
}));
"""

DROP = r"""
const files = new DataTransfer();
files.items.add(new File([arguments[1]], arguments[0]));
document.dispatchEvent(new DragEvent('drop', {dataTransfer: files, bubbles: true,
                                              cancelable: true}));
"""


class SharingTest(unittest.TestCase):
    """The upload page and the owner's inbox, used as a visitor and the owner use them."""

    vantry = None
    drivers = None

    def driver(self):
        return self.drivers[WIDTHS[-1]]

    def stored(self, name):
        with open(os.path.join(self.vantry.dir, "up", name), "rb") as f:
            return f.read()

    def upload_through_the_page(self, server, prefix):
        driver = self.driver()
        chosen = {prefix + " holiday été.bin": os.urandom(20 * 1024 * 1024),
                  prefix + " notes.txt": b"short notes\n", prefix + " empty.dat": b""}
        folder = tempfile.mkdtemp(prefix="chosen-", dir=self.vantry.dir)
        for name, content in chosen.items():
            with open(os.path.join(folder, name), "wb") as f:
                f.write(content)
        driver.get(self.vantry.base(server) + "/VNT/FileUpload.html")
        self.assertTrue(driver.find_element(By.CSS_SELECTOR, "#upload-form [type=submit]")
                        .get_attribute("hidden") is not None, "the script runs the page")
        driver.execute_script(WATCH_UPLOADS)
        driver.find_element(By.ID, "filename").send_keys(
            "\n".join(os.path.join(folder, name) for name in chosen))
        dropped = prefix + " dropped.txt"
        driver.execute_script(DROP, dropped, "dropped on the page")
        done = lambda: [r for r in driver.execute_script(ROWS) if r["outcome"]]
        self.assertTrue(wait_until(60, lambda: len(done()) == 4, step=0.2),
                        driver.execute_script(ROWS))
        states = driver.execute_script("return window.uploadStates")
        for row in driver.execute_script(ROWS):
            self.assertEqual(row["outcome"], "stored", row)
            self.assertEqual(row["value"], row["max"], row)
            self.assertTrue(row["state"].startswith("Received " + row["name"]), row)
        for name, content in chosen.items():
            self.assertEqual(self.stored(name), content, name)
            if content:
                shown = [text for seen, text in states if seen == name and " of " in text]
                self.assertTrue(shown, "no progress shown for %s: %s" % (name, states))
        big = prefix + " holiday été.bin"
        self.assertTrue(any(seen == big and text.endswith("/s") for seen, text in states),
                        "no speed shown: %s" % states)
        self.assertEqual(self.stored(dropped), b"dropped on the page")
        leftovers = [n for n in os.listdir(os.path.join(self.vantry.dir, "up"))
                     if n.startswith(".") or n.endswith(".part")]
        self.assertEqual(leftovers, [])

    def test_chosen_and_dropped_files_go_up_with_their_progress(self):
        self.upload_through_the_page("one", "plain")

    def test_chosen_files_go_up_over_https(self):
        if not self.vantry.tls_port:
            self.skipTest("no vantry-cert given")
        self.upload_through_the_page("https", "tls")

    def test_an_upload_cut_by_a_lost_connection_goes_on_where_it_stopped(self):
        driver = self.driver()
        content = os.urandom(24 * 1000 * 1000)
        path = os.path.join(tempfile.mkdtemp(prefix="cut-", dir=self.vantry.dir), "cut off.bin")
        with open(path, "wb") as f:
            f.write(content)
        # 8 MB/s: the upload takes three seconds, and the network goes away for two of them.
        slow = {"offline": False, "latency": 5, "downloadThroughput": -1,
                "uploadThroughput": 8 * 1000 * 1000}
        driver.execute_cdp_cmd("Network.enable", {})
        try:
            driver.execute_cdp_cmd("Network.emulateNetworkConditions", slow)
            driver.get(self.vantry.base("one") + "/VNT/FileUpload.html")
            driver.execute_script(WATCH_UPLOADS)
            driver.find_element(By.ID, "filename").send_keys(path)
            time.sleep(1)
            driver.execute_cdp_cmd("Network.emulateNetworkConditions", dict(slow, offline=True))
            time.sleep(2)
            driver.execute_cdp_cmd("Network.emulateNetworkConditions", slow)
            self.assertTrue(wait_until(60, lambda: driver.execute_script(ROWS)[0]["outcome"],
                                       step=0.2))
        finally:
            driver.execute_cdp_cmd("Network.emulateNetworkConditions",
                                   dict(slow, latency=0, uploadThroughput=-1))
        row = driver.execute_script(ROWS)[0]
        self.assertEqual(row["outcome"], "stored", row)
        states = [text for _, text in driver.execute_script("return window.uploadStates")]
        self.assertTrue(any(text.startswith("Connection lost") for text in states), states)
        self.assertEqual(self.stored("cut off.bin"), content)

    def test_the_inbox_lists_a_message_sent_from_the_form(self):
        driver = self.driver()
        base = self.vantry.base("one")
        driver.get(base + "/VNT/SendMessage.html")
        fields = {"messageFrom": "Zoë", "messageTo": "Owner",
                  "messageSubject": "Sent from the browser", "messageBody": "Ünïcödé <b>text</b>"}
        for name, value in fields.items():
            driver.find_element(By.ID, name).send_keys(value)
        driver.find_element(By.CSS_SELECTOR, "form [type=submit]").click()
        self.assertTrue(wait_until(10, lambda: "/VNT/HandleSendMessage" in driver.current_url))
        driver.get(base + "/admin/inbox")
        text = driver.find_element(By.ID, "messages").text
        for value in fields.values():
            self.assertIn(value, text)


def main():
    if len(sys.argv) < 3:
        print(__doc__, file=sys.stderr)
        return 2
    binary, source_dir = sys.argv[1], sys.argv[2]
    cert_binary = sys.argv[3] if len(sys.argv) > 3 else None
    drivers = {}
    try:
        for size in WIDTHS:
            drivers[size] = start_browser(*size, accept_insecure_certs=True)
    except WebDriverException as error:
        for driver in drivers.values():
            driver.quit()
        skip((error.msg or repr(error)).strip().splitlines()[0])
    vantry = None
    try:
        vantry = Vantry(binary, source_dir, cert_binary)
        vantry.start()
        suite = unittest.TestSuite()
        for case in (ModernPagesTest, SharingTest):
            case.vantry = vantry
            case.drivers = drivers
            suite.addTests(unittest.defaultTestLoader.loadTestsFromTestCase(case))
        result = unittest.TextTestRunner(verbosity=2).run(suite)
        ok = result.wasSuccessful()
    finally:
        for driver in drivers.values():
            driver.quit()
        fault = vantry.stop() if vantry else None
    if fault:
        print(fault, file=sys.stderr)
        ok = False
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
