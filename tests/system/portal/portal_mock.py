'''A desktop portal for python-dbusmock: RemoteDesktop and GlobalShortcuts with the
Request/Response flow, answering 10 ms after each call like a portal whose user clicks at once.

Parameters (JSON, `-p`): "sender", the client's unique name, so that requests live where the
client expects them; "answer", the response code of Start and BindShortcuts (0 allows, 1 is the
user's refusal); "shortcuts", false for a portal without GlobalShortcuts; "devices", the
RemoteDesktop device types offered (3: keyboard and pointer).
'''

import dbus
import dbusmock.mockobject
from gi.repository import GLib

BUS_NAME = 'org.freedesktop.portal.Desktop'
MAIN_OBJ = '/org/freedesktop/portal/desktop'
MAIN_IFACE = 'org.freedesktop.portal.RemoteDesktop'
SYSTEM_BUS = False

SHORTCUTS = 'org.freedesktop.portal.GlobalShortcuts'
REQUEST = 'org.freedesktop.portal.Request'
SESSION = 'org.freedesktop.portal.Session'


def load(mock, parameters):
    sender = parameters.get('sender', ':mock').lstrip(':').replace('.', '_')
    answer = int(parameters.get('answer', 0))
    starts = [0]

    def respond(options, response, results):
        path = f'/org/freedesktop/portal/desktop/request/{sender}/{options["handle_token"]}'
        mock.AddObject(path, REQUEST, {}, [('Close', '', '', '')])

        def send():
            dbusmock.mockobject.objects[path].EmitSignal(
                REQUEST, 'Response', 'ua{sv}', [dbus.UInt32(response), dbus.Dictionary(results, signature='sv')])
            return False
        GLib.timeout_add(10, send)
        return dbus.ObjectPath(path)

    def create_session(_self, options):
        session = f'/org/freedesktop/portal/desktop/session/{sender}/{options["session_handle_token"]}'
        mock.AddObject(session, SESSION, {}, [('Close', '', '', '')])
        return respond(options, 0, {'session_handle': dbus.String(session)})

    def select_devices(_self, _session, options):
        return respond(options, 0, {})

    def start(_self, _session, _parent, options):
        if answer != 0:
            return respond(options, answer, {})
        starts[0] += 1
        return respond(options, 0, {'devices': dbus.UInt32(2), 'restore_token': f'token-{starts[0]}'})

    def bind_shortcuts(_self, _session, shortcuts, _parent, options):
        if answer != 0:
            return respond(options, answer, {})
        bound = [(name, {'description': props['description'], 'trigger_description': 'Ctrl+Alt+Super+J'})
                 for name, props in shortcuts]
        return respond(options, 0, {'shortcuts': dbus.Array(bound, signature='(sa{sv})')})

    mock.AddProperties(MAIN_IFACE, {'version': dbus.UInt32(2), 'AvailableDeviceTypes': dbus.UInt32(int(parameters.get('devices', 3)))})
    mock.AddMethod(MAIN_IFACE, 'CreateSession', 'a{sv}', 'o', create_session)
    mock.AddMethod(MAIN_IFACE, 'SelectDevices', 'oa{sv}', 'o', select_devices)
    mock.AddMethod(MAIN_IFACE, 'Start', 'osa{sv}', 'o', start)
    mock.AddMethod(MAIN_IFACE, 'NotifyPointerMotion', 'oa{sv}dd', '', '')
    mock.AddMethod(MAIN_IFACE, 'NotifyPointerButton', 'oa{sv}iu', '', '')
    if parameters.get('shortcuts', True):
        mock.AddProperties(SHORTCUTS, {'version': dbus.UInt32(1)})
        mock.AddMethod(SHORTCUTS, 'CreateSession', 'a{sv}', 'o', create_session)
        mock.AddMethod(SHORTCUTS, 'BindShortcuts', 'oa(sa{sv})sa{sv}', 'o', bind_shortcuts)
