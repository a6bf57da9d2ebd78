'''A StatusNotifierWatcher for python-dbusmock: it accepts item registrations the way a panel's
watcher does, records them (the mock's call log), and says that a host is present.'''

import dbus

BUS_NAME = 'org.kde.StatusNotifierWatcher'
MAIN_OBJ = '/StatusNotifierWatcher'
MAIN_IFACE = 'org.kde.StatusNotifierWatcher'
SYSTEM_BUS = False


def load(mock, parameters):
    mock.AddProperties(MAIN_IFACE, dbus.Dictionary({
        'IsStatusNotifierHostRegistered': dbus.Boolean(True),
        'ProtocolVersion': dbus.Int32(0),
        'RegisteredStatusNotifierItems': dbus.Array([], signature='s'),
    }, signature='sv'))
    mock.AddMethods(MAIN_IFACE, [
        ('RegisterStatusNotifierItem', 's', '',
         'items = self.Get("%s", "RegisteredStatusNotifierItems")\n'
         'self.Set("%s", "RegisteredStatusNotifierItems", dbus.Array(list(items) + [args[0]], signature="s"))\n'
         'self.EmitSignal("%s", "StatusNotifierItemRegistered", "s", [args[0]])' % (MAIN_IFACE, MAIN_IFACE, MAIN_IFACE)),
        ('RegisterStatusNotifierHost', 's', '', ''),
    ])
