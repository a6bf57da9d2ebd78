# Walks the running Morvane over AT-SPI as a screen reader user does, with the keyboard alone: the
# settings window on its four tabs, then the popover (a second start opens it). Prints a report.
import json, subprocess, sys, time
import pyatspi as at

INTERACTIVE = {at.ROLE_PUSH_BUTTON, at.ROLE_TOGGLE_BUTTON, at.ROLE_CHECK_BOX, at.ROLE_RADIO_BUTTON,
               at.ROLE_SLIDER, at.ROLE_SPIN_BUTTON, at.ROLE_TEXT, at.ROLE_ENTRY, at.ROLE_COMBO_BOX,
               at.ROLE_PAGE_TAB}


def poll(probe, seconds=20):
    deadline = time.monotonic() + seconds
    while True:
        try:
            found = probe()
        except Exception:  # objects come and go while the program builds its windows
            found = None
        if found or time.monotonic() > deadline:
            return found
        time.sleep(0.05)


def has(obj, state):
    return obj is not None and obj.getState().contains(state)


def window(name):
    app = next(a for a in at.Registry.getDesktop(0) if a is not None and a.name == 'Morvane')
    return next((w for w in app if has(w, at.STATE_SHOWING) and w.name == name), None)


def showing(root):  # hidden rows and other tabs' pages are not showing, nor anything inside them
    for child in root:
        if has(child, at.STATE_SHOWING):
            yield child
            yield from showing(child)


def survey(root):
    found = [c for c in showing(root) if c.getRole() in INTERACTIVE]
    return {'named': sum(1 for c in found if c.name.strip()),
            'unnamed': [f'{c.getRoleName()} "{c.description}"' for c in found if not c.name.strip()],
            'sliders': {c.name: [c.queryValue().currentValue, c.description]
                        for c in found if c.getRole() == at.ROLE_SLIDER}}


def key(name):
    subprocess.run(['xdotool', 'key', '--clearmodifiers', name], check=True)


def tab_through(root, last):  # presses Tab up to `last`; answers the controls met, in order
    def focused():  # Qt 6.4 marks the current page tab focused wherever the focus is
        root.clear_cache()
        return next(c for c in showing(root) if c.getRole() != at.ROLE_PAGE_TAB and has(c, at.STATE_FOCUSED))
    stops = []
    while len(stops) < 30 and last not in stops[-1:]:
        before = poll(focused, 0)
        key('Tab')
        after = poll(lambda: focused() != before and focused(), 5)
        if not after:
            return stops + ['(focus lost)']
        if after.getRole() in INTERACTIVE:  # not the page itself, which scrolls with the arrows
            stops.append(after.name)
    return stops


report = {}
settings = poll(lambda: window('Preferencias de Morvane'))
# Qt 6.4 marks no page tab "selected": it names the tab list after the current tab.
tabs = settings and at.findDescendant(settings, lambda o: o.getRole() == at.ROLE_PAGE_TAB_LIST)
for name in ['General', 'Movimiento', 'Condiciones', 'Horarios', 'General']:  # the last: round again
    if not tabs or not poll(lambda: tabs.name == name):
        break
    report.setdefault('tabsReached', []).append(name)
    report.setdefault(name, survey(settings))
    if name == 'Horarios':  # schedules on, then to a time field, where Ctrl+Tab must still work
        report['scheduleStops'] = tab_through(settings, 'Usar horarios programados')
        key('space')
        report['scheduleStops'] += tab_through(settings, 'De')
    key('ctrl+Tab')

subprocess.run([sys.argv[1]], check=True, timeout=20)
popover = poll(lambda: window('Morvane'))
if popover:
    report['popover'] = survey(popover)
    report['tabStops'] = tab_through(popover, 'Activar por 30 min')
    key('Return')  # its timer line appears
    report['enterPressed'] = bool(poll(lambda: any(c.name.startswith('Se apaga en') for c in showing(popover))))
print(json.dumps(report))
