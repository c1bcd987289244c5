#!/usr/bin/python3
"""Drives the page of a run started with --web (tests/system/web_page.sh).

  web_page.py browser URL PLACE [SCREENSHOT]
      headless Chromium at 360 px: refused without the key, the page with it,
      each button doing its command (checked by tonquel --send status at
      PLACE), the page following without a reload, Quit ending the run.
  web_page.py flood HOST PORT
      what a hostile client tries: 100 idle connections, a slow request, a
      10 MB request, a malformed request line, garbage bytes, wrong keys, a
      foreign Host and Origin. Prints what it measured, one "name value" a line.

Failures are printed as "FAIL: ..." and give exit status 1.
"""
import json
import os
import socket
import subprocess
import sys
import time
import urllib.error
import urllib.request

failed = False


def fail(message):
    global failed
    failed = True
    print("FAIL: " + message, flush=True)


def measured(name, value):
    print(f"{name} {value}", flush=True)


def send_status(place):
    out = subprocess.run([os.environ["TONQUEL_BIN"], "--send", "status", "--control=" + place],
                         capture_output=True, text=True, stdin=subprocess.DEVNULL, timeout=10)
    return json.loads(out.stdout) if out.returncode == 0 else {}


def wait_for(what, check, seconds=3.0):
    """How long check took to hold, in ms; fails after seconds."""
    start = time.monotonic()
    while time.monotonic() - start < seconds:
        if check():
            return (time.monotonic() - start) * 1000
        time.sleep(0.02)
    fail(what)
    return None


def browser(url, place, screenshot):
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
    from selenium.webdriver.common.keys import Keys

    base = url.split("?")[0]
    try:
        urllib.request.urlopen(base, timeout=5)
        fail("the page was served without the key")
    except urllib.error.HTTPError as error:
        if error.code != 403 or b"standard error" not in error.read():
            fail(f"without the key: {error.code}")

    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    # A phone's screen: headless Chromium's windows are at least 500 px wide.
    options.add_experimental_option("mobileEmulation",
                                    {"deviceMetrics": {"width": 360, "height": 740, "pixelRatio": 2}})
    for argument in ("--headless=new", "--no-sandbox", "--disable-gpu",
                     "--disable-dev-shm-usage", "--user-data-dir=" + os.environ["AUDIO_WORK"] + "/chromium"):
        options.add_argument(argument)
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    try:
        driver.get(base)
        if "needs its key" not in driver.page_source:
            fail("the browser without the key was not told where the address is")
        driver.get(url)
        if driver.current_url != base:
            fail(f"the key stayed in the address bar: {driver.current_url}")
        text = lambda name: driver.find_element(By.ID, name).text
        wait_for("the page shows the first tone", lambda: text("frequency") == "440 Hz")
        if text("place") != "1 of 3" or text("state") != "playing":
            fail(f"first tone: {text('place')!r} {text('state')!r}")
        if "880 Hz for 1:00" not in text("next"):
            fail(f"next tones: {text('next')!r}")
        # A reload would lose this mark.
        driver.execute_script("window.unreloaded = true")
        width = driver.execute_script("return [window.innerWidth, document.documentElement.scrollWidth]")
        measured("page_width_px", width[0])
        measured("page_scroll_width_px", width[1])
        if width[0] != 360 or width[1] > width[0]:
            fail(f"sideways scrolling at 360 px: {width}")
        if screenshot:
            driver.save_screenshot(screenshot)

        def press(label):
            for button in driver.find_elements(By.TAG_NAME, "button"):
                if button.text == label:
                    return button
            fail(f"no button {label!r}")

        # Pause by the keyboard alone: Tab to the button, Enter.
        body = driver.find_element(By.TAG_NAME, "body")
        for _ in range(12):
            body.send_keys(Keys.TAB) if driver.switch_to.active_element.tag_name != "button" else \
                driver.switch_to.active_element.send_keys(Keys.TAB)
            if driver.switch_to.active_element.text == "Pause":
                break
        if driver.switch_to.active_element.text != "Pause":
            fail("Tab does not reach the Pause button")
        pressed = time.monotonic()
        driver.switch_to.active_element.send_keys(Keys.ENTER)
        took = wait_for("Pause: --send status says paused", lambda: send_status(place).get("state") == "paused")
        if took is not None:
            measured("press_to_status_ms", round((time.monotonic() - pressed) * 1000))
        took = wait_for("Pause: the page says paused", lambda: text("state") == "paused", 1.5)
        measured("pause_shown_after_ms", round(took or -1))

        steps = [
            ("Resume", lambda s: s.get("state") == "playing", lambda: text("state") == "playing"),
            ("+1 Hz", lambda s: s.get("entries") == 4, lambda: text("place") == "1 of 4"),
            ("-1 Hz", lambda s: s.get("entries") == 5, lambda: text("place") == "1 of 5"),
            ("Skip", lambda s: s.get("frequency") == 439, lambda: text("frequency") == "439 Hz"),
            ("Back", lambda s: s.get("frequency") == 440, lambda: text("frequency") == "440 Hz"),
        ]
        for label, status_check, page_check in steps:
            button = press(label)
            if button is None:
                continue
            pressed = time.monotonic()
            button.click()
            wait_for(f"{label}: --send status", lambda: status_check(send_status(place)))
            measured(f"press_to_status_ms[{label}]", round((time.monotonic() - pressed) * 1000))
            took = wait_for(f"{label}: the page follows", page_check, 1.5)
            measured(f"page_follows_ms[{label}]", round(took if took is not None else -1))
        if "441 Hz for 3:00" not in text("next"):
            fail(f"the added tones are not listed: {text('next')!r}")
        if not driver.execute_script("return window.unreloaded === true"):
            fail("the page was reloaded")

        # Quit asks first: dismissed, the run goes on; accepted, it ends.
        press("Quit").click()
        driver.switch_to.alert.dismiss()
        time.sleep(0.5)
        if send_status(place).get("state") != "playing":
            fail("a dismissed Quit ended the run")
        press("Quit").click()
        driver.switch_to.alert.accept()
        wait_for("the page tells that the run ended", lambda: text("state") == "the run has ended", 3)
        if not all(not b.is_enabled() for b in driver.find_elements(By.TAG_NAME, "button")):
            fail("the buttons still act after the end")
    finally:
        driver.quit()


def request(host, port, data, wait=3.0):
    """What the server answers to the bytes, or "" when it closes first."""
    with socket.create_connection((host, port), timeout=wait) as s:
        s.sendall(data)
        got = b""
        try:
            while True:
                piece = s.recv(65536)
                if not piece:
                    break
                got += piece
                if b"\r\n\r\n" in got and b"Content-Length: 0\r\n" in got:
                    break
        except OSError:
            pass
        return got.decode("latin-1")


def first_line(answer):
    return answer.split("\r\n", 1)[0]


def flood(host, port):
    key = os.environ["WEB_KEY"]
    good = f"GET /state HTTP/1.1\r\nHost: {host}:{port}\r\nCookie: tonquel-key={key}\r\n\r\n"
    # 100 connections that send nothing: 32 are held, the rest closed at once,
    # and within 2 s all are gone so that the phone gets in.
    idle = []
    for _ in range(100):
        s = socket.create_connection((host, port))
        idle.append(s)
    time.sleep(0.3)
    closed = 0
    for s in idle:
        s.setblocking(False)
        try:
            closed += s.recv(1) == b""
        except BlockingIOError:
            pass
        except OSError:
            closed += 1
    measured("idle_closed_at_once", closed)
    if closed < 100 - 32:
        fail(f"only {closed} of 100 idle connections were turned away")
    start = time.monotonic()
    got = ""
    while time.monotonic() - start < 4 and not first_line(got).endswith("200 OK"):
        try:
            got = request(host, port, (good.replace("\r\n\r\n", "\r\nConnection: close\r\n\r\n")).encode(), 1)
        except OSError:
            time.sleep(0.05)
    measured("page_answers_after_idle_flood_ms", round((time.monotonic() - start) * 1000))
    if not first_line(got).endswith("200 OK"):
        fail("the idle connections kept the page out")
    for s in idle:
        s.close()

    # Slowloris: a byte every 0.3 s is closed 2 s after it began.
    s = socket.create_connection((host, port))
    start = time.monotonic()
    try:
        for c in good:
            s.send(c.encode())
            time.sleep(0.3)
    except OSError:
        pass
    s.settimeout(3)
    try:
        while s.recv(65536):
            pass
    except OSError:
        pass
    measured("slow_request_closed_after_ms", round((time.monotonic() - start) * 1000))
    s.close()

    # 10 MB: refused on its head, before the body is read.
    with socket.create_connection((host, port)) as s:
        start = time.monotonic()
        s.sendall(f"POST /command/skip HTTP/1.1\r\nHost: {host}:{port}\r\nContent-Length: {10 << 20}\r\n\r\n"
                  .encode())
        sent = 0
        answer = b""
        s.settimeout(0.05)
        chunk = b"x" * 65536
        while sent < 10 << 20 and time.monotonic() - start < 5:
            try:
                sent += s.send(chunk)
            except socket.timeout:
                pass
            except OSError:
                break
            try:
                answer += s.recv(4096)
                if answer:
                    break
            except socket.timeout:
                pass
            except OSError:
                break
        measured("big_request_answer", first_line(answer.decode("latin-1")).replace(" ", "_") or "closed")
        measured("big_request_bytes_taken", sent)
        measured("big_request_answered_after_ms", round((time.monotonic() - start) * 1000))
        if b" 413 " not in answer:
            fail(f"10 MB: {answer[:80]!r}")

    cases = [
        ("malformed_request_line", b"GARBAGE\r\n\r\n", " 400 "),
        ("garbage_bytes", bytes(range(256)) * 8, " 400 "),
        ("huge_header", ("GET / HTTP/1.1\r\nHost: x\r\nX: " + "a" * 20000 + "\r\n\r\n").encode(), " 431 "),
        ("no_key", f"GET / HTTP/1.1\r\nHost: {host}:{port}\r\n\r\n".encode(), " 403 "),
        ("foreign_host", good.replace(f"{host}:{port}", "evil.example:" + str(port)).encode(), " 403 "),
        ("post_without_origin",
         f"POST /command/skip HTTP/1.1\r\nHost: {host}:{port}\r\nCookie: tonquel-key={key}\r\n"
         "Content-Length: 0\r\n\r\n".encode(), " 403 "),
        ("post_foreign_origin",
         f"POST /command/skip HTTP/1.1\r\nHost: {host}:{port}\r\nCookie: tonquel-key={key}\r\n"
         "Origin: http://evil.example\r\nContent-Length: 0\r\n\r\n".encode(), " 403 "),
        ("unknown_command",
         f"POST /command/schedule HTTP/1.1\r\nHost: {host}:{port}\r\nCookie: tonquel-key={key}\r\n"
         f"Origin: http://{host}:{port}\r\nContent-Length: 0\r\n\r\n".encode(), " 404 "),
    ]
    for name, data, expected in cases:
        answer = first_line(request(host, port, data))
        measured(name, answer.replace(" ", "_") or "closed")
        if expected not in answer + " ":
            fail(f"{name}: {answer!r}, expected{expected}")

    # A flood of requests: eight clients asking for the state as fast as
    # they can, over kept-alive connections, for two seconds.
    import threading
    answered = [0] * 8

    def hammer(slot):
        with socket.create_connection((host, port), timeout=3) as s:
            end = time.monotonic() + 2
            while time.monotonic() < end:
                s.sendall(good.encode())
                got = b""
                while b"}" not in got:
                    piece = s.recv(65536)
                    if not piece:
                        return
                    got += piece
                answered[slot] += 1

    threads = [threading.Thread(target=hammer, args=(i,)) for i in range(8)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    measured("state_requests_answered_in_2s", sum(answered))

    # Wrong keys in a loop: five at once, then a second per try.
    wrong = f"GET /?key={'0' * 32} HTTP/1.1\r\nHost: {host}:{port}\r\nConnection: close\r\n\r\n".encode()
    times = []
    for _ in range(8):
        start = time.monotonic()
        request(host, port, wrong)
        times.append(round((time.monotonic() - start) * 1000))
    measured("wrong_key_ms", ",".join(map(str, times)))
    if max(times[:5]) > 300 or min(times[6:]) < 900:
        fail(f"wrong keys: {times}")


if __name__ == "__main__":
    if sys.argv[1] == "browser":
        browser(sys.argv[2], sys.argv[3], sys.argv[4] if len(sys.argv) > 4 else "")
    else:
        flood(sys.argv[2], int(sys.argv[3]))
    sys.exit(1 if failed else 0)
