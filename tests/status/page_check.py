#!/usr/bin/env python3
"""Opens the station page in headless Chromium (through chromedriver) while a station runs and
prints what a supervisor would see, as one JSON object: the state of a port's row when the page
came up and after it changed, whether the page was reloaded meanwhile, the unit cell's text, the
number of <img> elements and whether any alert opened.

usage: page_check.py URL PORT PROFILE_DIR
"""
import json
import sys

from selenium import webdriver
from selenium.common.exceptions import NoAlertPresentException, TimeoutException, UnexpectedAlertPresentException
from selenium.webdriver.chrome.options import Options
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

url, port, profile = sys.argv[1], sys.argv[2], sys.argv[3]
options = Options()
options.binary_location = "/usr/bin/chromium"
for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
             "--disable-background-networking", "--disable-component-update", "--disable-sync",
             "--user-data-dir=" + profile, "--window-size=1280,900"):
    options.add_argument(flag)
driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
out = {"alert": False}
try:
    driver.set_page_load_timeout(20)
    driver.get(url)
    wait = WebDriverWait(driver, 40, poll_frequency=0.05)
    row_id = "port-" + port

    def state():
        rows = driver.find_elements(By.ID, row_id)
        return rows[0].get_attribute("data-state") if rows else None

    out["first"] = wait.until(lambda d: state())
    # A reload would lose this.
    driver.execute_script("window.tarvoMarker = 4711;")
    try:
        out["later"] = wait.until(lambda d: (lambda s: s if s != out["first"] else None)(state()))
        # Let it run to its end to see the final word too.
        out["final"] = wait.until(lambda d: (lambda s: s if s in ("COMPLETE", "ERROR") else None)(state()))
    except TimeoutException:
        out["later"] = state()
    out["marker"] = driver.execute_script("return window.tarvoMarker;")
    out["unit"] = driver.find_element(By.CSS_SELECTOR, "#" + row_id + " td.unit").text
    out["record_units"] = [e.text for e in driver.find_elements(By.CSS_SELECTOR, "#recent tr td:nth-child(4)")]
    out["images"] = len(driver.find_elements(By.TAG_NAME, "img"))
    out["station"] = driver.find_element(By.ID, "station").text
    out["port_heading"] = driver.find_element(By.CSS_SELECTOR, "#ports th").text
    try:
        driver.switch_to.alert
        out["alert"] = True
    except NoAlertPresentException:
        pass
except UnexpectedAlertPresentException:
    out["alert"] = True
finally:
    driver.quit()
print(json.dumps(out, ensure_ascii=False))
