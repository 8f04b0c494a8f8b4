#!/usr/bin/python3
"""The README's pictures of the web page: docs/web-desktop.png and docs/web-phone.png.

    scripts/web-screenshots.py build/builds/kestra3
"""
import os, sys, time

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, '..', 'tests', 'web'))
sys.argv = [sys.argv[0], sys.argv[1], '']
import test_page as t  # noqa: E402

PLACES = ['Porch light', 'Garden pump', 'Hall', 'Greenhouse fan', 'Pond filter', 'Garage', 'Heating', 'Sprinkler']

s = t.Switch()
try:
    for n, place in enumerate(PLACES, 1):
        s.api('POST', '/api/command', {'command': 'location', 'n': n, 'text': place})
    for n, mode in ((1, 'AUTO'), (2, 'ON'), (3, 'AUTO'), (4, 'OFF'), (5, 'AUTO')):
        s.api('POST', '/api/command', {'command': 'mode', 'output': n, 'mode': mode})
    docs = os.path.join(here, '..', 'docs')
    for name, width, height, scale in (('desktop', 1280, 900, 1), ('phone', 360, 740, 2)):
        b = t.chromium(1280, 900)
        b.execute_cdp_cmd('Emulation.setDeviceMetricsOverride',
                          {'width': width, 'height': height, 'deviceScaleFactor': scale, 'mobile': name == 'phone'})
        b.get(s.ctl('web').stdout.strip())
        t.WebDriverWait(b, 10).until(lambda b: b.execute_script('return document.body.dataset.live') == 'yes')
        time.sleep(0.5)
        with open(os.path.join(docs, 'web-%s.png' % name), 'wb') as f:
            f.write(b.get_screenshot_as_png())
        b.quit()
finally:
    s.stop()
