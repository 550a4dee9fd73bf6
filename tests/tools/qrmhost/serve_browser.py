#!/usr/bin/python3
"""Drives qrmhost serve's console page in headless Chromium (selenium).

Usage: serve_browser.py CONSOLE_URL CAMSIM_URL ALARM_CAMSIM_URL TILES [SCREENSHOT.png]
Waits for TILES live pictures (saves the screenshot, if asked), clicks the middle of the first one,
breaks the camera's stream once and fires the motion alarm of the camera at ALARM_CAMSIM_URL.
Prints one JSON line with what it saw; exit 1 when something did not show in time.
"""
import json
import sys
import time
import urllib.error
import urllib.request

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By


def wait_for(what, deadline_seconds, condition):
    deadline = time.monotonic() + deadline_seconds
    while time.monotonic() < deadline:
        if value := condition():
            return value
        time.sleep(0.2)  # paces the polls of the page
    raise TimeoutError(what)


def fetch(url):
    return urllib.request.urlopen(url).read().decode()


def main():
    console, camsim, alarm_camsim, tiles = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
    screenshot = sys.argv[5] if len(sys.argv) > 5 else ""
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                     "--window-size=1280,800"):
        options.add_argument(argument)
    seen = {"pictures": 0, "point_request": "", "failure_shown": False, "alarm_shown": False}
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    script = driver.execute_script
    try:
        driver.get(console)
        count_pictures = ("return [...document.querySelectorAll('.tile img')]"
                          ".filter(img => img.complete && img.naturalWidth > 0).length")
        seen["pictures"] = wait_for("pictures", 30, lambda: (n := script(count_pictures)) >= tiles and n)
        if screenshot:  # once the facts show a rate
            fps = "return [...document.querySelectorAll('[data-fact=\"fps\"]')].every(e => Number(e.textContent) > 0)"
            wait_for("fps", 20, lambda: script(fps))
            driver.save_screenshot(screenshot)
        # A click in the middle of the picture centres the camera there.
        fetch(camsim + "/sim/requests?clear=1")
        driver.find_element(By.CSS_SELECTOR, ".tile img").click()
        clicks = lambda: [line for line in fetch(camsim + "/sim/requests").splitlines() if "click.cgi" in line]
        seen["point_request"] = json.loads(wait_for("point request", 20, clicks)[0])["target"]
        fetch(camsim + "/sim/fault?path=/control/faststream.jpg&count=1&running=1&drop_after_parts=1")
        events = "return [...document.querySelectorAll('[data-fact=\"last event\"]')].map(e => e.textContent).join('|')"
        seen["failure_shown"] = bool(wait_for("failure", 20, lambda: any(
            word in script(events) for word in ("failed", "recovered"))))
        # The detector takes its profiles on the camera first; the alarm is fired until it shows.
        def alarm_shown():
            try:
                fetch(alarm_camsim + "/sim/trigger?event=orbexMD")
            except urllib.error.HTTPError:
                pass  # not provisioned yet
            return "onMotion" in script(events)
        seen["alarm_shown"] = bool(wait_for("alarm", 30, alarm_shown))
    except TimeoutError as error:
        seen["timeout"] = str(error)
    finally:
        driver.quit()
    print(json.dumps(seen))
    return 0 if "timeout" not in seen else 1


if __name__ == "__main__":
    sys.exit(main())
