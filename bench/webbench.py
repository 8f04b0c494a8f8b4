#!/usr/bin/python3
"""Benchmark of the web page against the real service, by hand:

    bench/webbench.py build/builds/kestra3 [--loads N] [--loads-only] [--running-browser] [--against KESTRA3]

Starts kestra3 --headless as the browser tests do (tests/web/test_page.py) and measures: page load to live state
(cold: a fresh Chromium profile each time, or a browser that keeps running with its cache cleared before each load),
a change at the port to the page, the bytes of a first load, the requests for the week while output 1 pulses, the
service's memory with 10 pages open, and channel 8's switchings at the port while 10 pages stream and four threads
flood the service with requests.
"""
import argparse, datetime, http.client, json, os, statistics, sys, threading, time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), '..', 'tests', 'web'))
parser = argparse.ArgumentParser(description='The web page against the real service.')
parser.add_argument('kestra3')
parser.add_argument('--loads', type=int, default=5, help='cold page loads to measure (5)')
parser.add_argument('--loads-only', action='store_true', help='measure the cold loads alone')
parser.add_argument('--against', metavar='KESTRA3', help='another build of kestra3 whose cold loads alternate with '
                    "this one's, so that both meet the same load of the machine")
parser.add_argument('--running-browser', action='store_true',
                    help='cold loads in one browser that keeps running (a person\'s browser is open already): each in '
                    'a new tab, the cache and cookies cleared before it; default: a fresh profile each load')
parser.add_argument('--pulse-only', action='store_true',
                    help='measure the requests for the week during a minute of output 1 pulsing, alone')
args = parser.parse_args()
sys.argv = [sys.argv[0], args.kestra3, '']
import test_page as t  # noqa: E402


def rss(pid):
    with open('/proc/%d/status' % pid) as f:
        for line in f:
            if line.startswith('VmRSS'):
                return int(line.split()[1]) / 1024


def live(b):
    t.WebDriverWait(b, 20, poll_frequency=0.01).until(
        lambda b: b.execute_script("return document.body.dataset.live") == 'yes')


# When the live state has been drawn and the frame after it made: a mark of its own, set by the benchmark in every
# page it opens, whichever build's page it is.
PAINTED = """(() => {
  const mark = performance.mark.bind(performance);
  performance.mark = (name, ...more) => {
    const m = mark(name, ...more);
    if (name === 'live') requestAnimationFrame(() => setTimeout(() => mark('live painted')));
    return m;
  };
  // When output 1's state was on the screen (Chromium's element timing: the frame that showed it).
  window.shown = [];
  new PerformanceObserver((l) => shown.push(...l.getEntries().map((e) => e.renderTime || e.loadTime)))
    .observe({type: 'element', buffered: true});
  new MutationObserver(() => {
    const e = document.getElementById('state-1');
    if (e && !e.hasAttribute('elementtiming')) e.setAttribute('elementtiming', 'state');
  }).observe(document, {childList: true, subtree: true});
})();"""


def cold_browser(running):
    """A browser to load the page in with nothing of it cached: a fresh profile, or a new tab of the running
    browser with its cache and cookies cleared."""
    if running is None:
        b = t.chromium(1280, 900)
    else:
        b = running
        b.switch_to.new_window('tab')
        b.execute_cdp_cmd('Network.clearBrowserCache', {})
        b.execute_cdp_cmd('Network.clearBrowserCookies', {})
    b.execute_cdp_cmd('Page.addScriptToEvaluateOnNewDocument', {'source': PAINTED})
    return b


def done_with(b, running):
    if running is None:
        b.quit()
        return
    b.close()
    b.switch_to.window(b.window_handles[0])


def until_painted(b):
    t.WebDriverWait(b, 5, poll_frequency=0.01).until(
        lambda b: b.execute_script("return performance.getEntriesByName('live painted').length && shown.length"))


def week_requests(sw):
    """How often an open page asks for the week in the minute from the start of output 1 pulsing 1 s ON, 1 s OFF."""
    b = t.chromium(1280, 900)
    try:
        b.get(sw.ctl('web').stdout.strip())
        live(b)
        b.execute_script('performance.setResourceTimingBufferSize(10000)')
        count = lambda: b.execute_script("return performance.getEntriesByType('resource')"
                                         ".filter(e => new URL(e.name).pathname === '/api/web/week').length")
        time.sleep(2)  # the first picture
        before = count()
        for body in ({'command': 'pulseSelect', 'output': 1, 'list': 'on', 'entry': '1'},
                     {'command': 'pulseSelect', 'output': 1, 'list': 'off', 'entry': '1'},
                     {'command': 'pulseStart', 'output': 1}):
            st, answer = sw.api('POST', '/api/command', body)
            assert st == 200 and answer.get('ok'), answer
        time.sleep(60)
        return count() - before
    finally:
        sw.api('POST', '/api/command', {'command': 'pulseStop', 'output': 1})
        b.quit()


def summary(name, xs):
    xs = sorted(xs)
    p95 = xs[min(len(xs) - 1, int(len(xs) * 0.95))]
    print('| %s | %.1f | %.1f | %.1f | %.1f | %d |' % (name, xs[0], statistics.median(xs), p95, xs[-1], len(xs)))


def edges(s, before_watching=lambda: None):
    """Channel 8: ten switchings 4 s apart, each ON for 3 s (a run of 2 s holds the start's second and two more),
    from 5 s ahead; the port file read every 0.25 ms."""
    first = datetime.datetime.utcnow().replace(microsecond=0) + datetime.timedelta(seconds=5)
    for d in range(7):
        s.api('POST', '/api/command', {'command': 'day', 'output': 8, 'day': d, 'ticked': True})
    s.api('POST', '/api/command', {'command': 'select', 'output': 8, 'mode': 'AUTO'})
    planned = []
    for k in range(10):
        at = first + datetime.timedelta(seconds=4 * k)
        s.api('POST', '/api/command', {'command': 'time', 'output': 8, 'index': 2 * k, 'text': at.strftime('%H:%M:%S')})
        s.api('POST', '/api/command', {'command': 'time', 'output': 8, 'index': 2 * k + 1, 'text': '00:00:02'})
        planned += [(at, True), (at + datetime.timedelta(seconds=3), False)]
    ok = s.api('POST', '/api/command', {'command': 'ok', 'output': 8})
    assert ok[0] == 200, ok
    before_watching()
    fd = os.open(s.portfile, os.O_RDONLY)
    seen = []
    last = os.pread(fd, 1, 0)[0] & 0x80
    end = time.time() + 5 + 4 * 10 + 3
    while time.time() < end and len(seen) < 20:
        b = os.pread(fd, 1, 0)[0] & 0x80
        if b != last:
            seen.append(time.time())
            last = b
        time.sleep(0.00025)
    os.close(fd)
    epoch = datetime.datetime(1970, 1, 1)
    return [(w - (p[0] - epoch).total_seconds()) * 1000 for w, p in zip(seen, planned)]


class Page:
    """A page as a browser holds it, without the browser: its files and calls loaded, its event stream read."""

    def __init__(self, s):
        _, r, _ = s.http('GET', '/login?code=' + s.api('POST', '/api/web/code', {})[1]['code'])
        self.cookie = r.getheader('Set-Cookie').split(';')[0]
        for path in ('/', '/app.js', '/style.css', '/api/web/session', '/api/web/week', '/api/web/sounds'):
            s.http('GET', path, {'Cookie': self.cookie})
        self.events = 0
        self.conn = http.client.HTTPConnection('127.0.0.1', s.port)
        self.conn.request('GET', '/api/events', headers={'Cookie': self.cookie, 'Host': '127.0.0.1:%d' % s.port})
        self.stream = self.conn.getresponse()
        threading.Thread(target=self.read, daemon=True).start()

    def read(self):
        try:
            for line in self.stream:
                if line.startswith(b'event:'):
                    self.events += 1
        except Exception:
            pass


def main():
    s = t.Switch()
    pid = json.load(open(s.endpoint))['pid']
    print('| figure | min | median | p95 | max | n |\n| --- | ---: | ---: | ---: | ---: | ---: |')
    try:
        other = None
        if args.against:
            ours, t.KESTRA3 = t.KESTRA3, args.against
            other = t.Switch()
            t.KESTRA3 = ours
        if args.pulse_only:
            for which, name in ((s, args.kestra3), (other, args.against)):
                if which:
                    print('requests for the week during a minute of output 1 pulsing 1 s ON, 1 s OFF, %s: %d'
                          % (name, week_requests(which)))
            return
        running = t.chromium(1280, 900) if args.running_browser else None
        loads, sizes, parts, files, others, marks = [], [], [], {}, [], {}
        try:
            for i in range(args.loads):
                for which in ((s, other) if i % 2 == 0 else (other, s)):
                    if which is None:
                        continue
                    b = cold_browser(running)
                    b.get(which.ctl('web').stdout.strip())
                    live(b)
                    load = b.execute_script("return performance.getEntriesByName('live')[0].startTime")
                    # The page's own marks and Chromium's paints.
                    until_painted(b)
                    for name, at in b.execute_script(
                            "return performance.getEntriesByType('mark').concat(performance.getEntriesByType('paint'))"
                            ".map(e => [e.name, e.startTime]).concat([['state on the screen', shown[0]]])"):
                        marks.setdefault((which is other, name), []).append(at)
                    if which is other:
                        others.append(load)
                        done_with(b, running)
                        continue
                    loads.append(load)
                    nav = b.execute_script("const n = performance.getEntriesByType('navigation')[0];"
                                           "return [n.redirectEnd, n.responseEnd, n.domContentLoadedEventEnd]")
                    parts.append(nav)
                    # Where each of the page's files and first calls began and ended.
                    for name, start, end in b.execute_script(
                            "return performance.getEntriesByType('resource').map(e => [new URL(e.name).pathname,"
                            " e.startTime, e.responseEnd])"):
                        files.setdefault(name, []).append((start, end))
                    sizes.append(b.execute_script(
                        "return performance.getEntriesByType('navigation').concat(performance.getEntriesByType('resource'))"
                        ".reduce((n, e) => n + e.transferSize, 0)"))
                    done_with(b, running)
        finally:
            if running:
                running.quit()
        how = 'a running browser, its cache cleared' if running else 'a fresh profile'
        if other:
            other.stop()
            summary('page load to live state, cold (%s), ms, %s' % (how, args.against), others)
        summary('page load to live state, cold (%s), ms' % how, loads)
        for i, name in enumerate(('login link redirected', 'page received', 'page and script ready')):
            summary('... of it: %s, ms' % name, [p[i] for p in parts])
        for (theirs, name), ats in sorted(marks.items(), key=lambda m: (m[0][0], statistics.median(m[1]))):
            summary('... %s%s, ms' % (name, ', ' + args.against if theirs else ''), ats)
        for name, spans in sorted(files.items(), key=lambda f: statistics.median(s for s, _ in f[1])):
            summary('... %s asked for, ms' % name, [s for s, _ in spans])
            summary('... %s received, ms' % name, [e for _, e in spans])
        # The greeting of the event stream is not in the resource timings: counted from a client of its own.
        c = http.client.HTTPConnection('127.0.0.1', s.port)
        c.request('GET', '/api/events', headers={'Authorization': 'Bearer ' + s.token, 'Host': '127.0.0.1:%d' % s.port})
        greeting = c.getresponse().fp.read1(1 << 20)
        c.close()
        print('| first load, KB: files and calls %.1f + the first event %.1f | | %.1f | | | %d |'
              % (statistics.median(sizes) / 1024, len(greeting) / 1024, (statistics.median(sizes) + len(greeting)) / 1024,
                 len(sizes)))
        if args.loads_only:
            return

        b = t.chromium(1280, 900)
        b.get(s.ctl('web').stdout.strip())
        live(b)
        b.execute_script("""window.seen = []; new MutationObserver(() => seen.push(Date.now()))
            .observe(document.getElementById('input-5'), {subtree: true, childList: true, characterData: true});""")
        shown = []
        for i in range(30):
            n = len(b.execute_script('return seen'))
            wrote = time.time() * 1000
            s.set_status(0x70 if i % 2 == 0 else 0x78)
            t.until(lambda: len(b.execute_script('return seen')) > n, 5, 'no change shown')
            shown.append(b.execute_script('return seen')[n] - wrote)
            time.sleep(0.25)
        summary('input change at the port to the page, ms', shown)

        b.quit()
        print('\nrequests for the week during a minute of output 1 pulsing 1 s ON, 1 s OFF: %d\n' % week_requests(s))
        idle = rss(pid)
        quiet = edges(s)
        pages = [Page(s) for _ in range(10)]
        time.sleep(1)
        ten = rss(pid)
        stop = threading.Event()
        counts = {'ok': 0, 'refused': 0}

        def flood():
            while not stop.is_set():
                try:
                    st, _ = s.api('GET', '/api/state')
                    counts['ok' if st == 200 else 'refused'] += 1
                except Exception:
                    counts['refused'] += 1
        threads = [threading.Thread(target=flood) for _ in range(4)]
        try:
            loaded = edges(s, lambda: [th.start() for th in threads])
            most = rss(pid)
        finally:
            stop.set()
            for th in threads:
                th.join()
        summary('switching to the port, quiet, ms', quiet)
        summary('switching to the port, 10 pages and the flood, ms', loaded)
        print('\nservice memory: %.1f MB before the pages, %.1f MB with 10 pages open, %.1f MB with them and the flood;'
              ' flood: %d answered, %d refused' % (idle, ten, most, counts['ok'], counts['refused']))
        print('events each page got: %s' % [p.events for p in pages])
    finally:
        s.stop()


main()
