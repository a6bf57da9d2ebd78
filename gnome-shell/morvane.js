// Morvane in GNOME Shell's top bar and Quick Settings, where GNOME has no tray. Everything shown
// and done here goes through the running Morvane's bus interface: this file keeps none of its
// state and makes none of its decisions.

const BUS_NAME = 'app.morvane.Morvane';
const OBJECT_PATH = '/app/morvane/Morvane';
// Owned while the extension is active: Morvane then offers no tray item of its own.
const PANEL_NAME = 'app.morvane.Morvane.Panel';
const DESKTOP_ENTRY = 'app.morvane.Morvane.desktop';

const CHIPS = [['15 min', 900], ['30 min', 1800], ['1 h', 3600], ['2 h', 7200], ['4 h', 14400], ['8 h', 28800]];
const ICON_STATES = ['off', 'on', 'blocked', 'working'];

const ControlProxy = Gio.DBusProxy.makeProxyWrapper(`
<node><interface name="app.morvane.Morvane">
  <property name="enabled" type="b" access="read"/>
  <property name="status" type="s" access="read"/>
  <property name="icon" type="s" access="read"/>
  <property name="label" type="s" access="read"/>
  <method name="Toggle"/>
  <method name="SwitchOn"/>
  <method name="ActivateFor"><arg type="x" direction="in"/></method>
  <method name="Pause"><arg type="x" direction="in"/></method>
  <method name="CancelTimers"/>
  <method name="OpenPopover"/>
  <method name="OpenSettings"><arg type="s" direction="in"/></method>
  <method name="Quit"/>
  <method name="StatusLines"><arg type="as" direction="out"/></method>
</interface></node>`);

// The running Morvane, as far as the bus tells: present or not, its published properties, and
// its status lines read when a menu shows them.
class Control {
    constructor(onChange) {
        this._onChange = onChange;
        this.proxy = null;
        this.lines = [];
        this._switchOnWhenUp = false;
        this._watch = Gio.bus_watch_name(Gio.BusType.SESSION, BUS_NAME, Gio.BusNameWatcherFlags.NONE,
            () => this._appeared(), () => this._vanished());
    }

    get running() {
        return this.proxy !== null;
    }

    get enabled() {
        return this.proxy?.enabled ?? false;
    }

    get icon() {
        const state = this.proxy?.icon;
        return ICON_STATES.includes(state) ? state : 'off';
    }

    get label() {
        return this.proxy?.label ?? '';
    }

    get status() {
        return this.lines[0] ?? this.proxy?.status ?? '';
    }

    call(method, ...args) {
        this.proxy?.[`${method}Remote`](...args, (_result, error) => {
            if (error)
                console.warn(`Morvane: ${method}: ${error.message}`);
        });
    }

    // Switches Morvane; when it is not running, starts it and switches it on once it is up.
    toggle() {
        if (this.running) {
            this.call('Toggle');
            return;
        }
        this._switchOnWhenUp = true;
        const app = Gio.DesktopAppInfo.new(DESKTOP_ENTRY);
        try {
            if (app)
                app.launch([], global.create_app_launch_context(0, -1));
            else
                Gio.Subprocess.new(['morvane'], Gio.SubprocessFlags.NONE);
        } catch (e) {
            this._switchOnWhenUp = false;
            console.warn(`Morvane: could not start: ${e.message}`);
        }
    }

    refreshLines() {
        this.proxy?.StatusLinesRemote((result, error) => {
            if (error || !this.proxy)
                return;
            [this.lines] = result;
            this._onChange();
        });
    }

    _appeared() {
        new ControlProxy(Gio.DBus.session, BUS_NAME, OBJECT_PATH, (proxy, error) => {
            if (error || this._watch === 0)
                return;
            this.proxy = proxy;
            this._changed = proxy.connect('g-properties-changed', () => {
                this._onChange();
                this.refreshLines();
            });
            if (this._switchOnWhenUp) {
                this._switchOnWhenUp = false;
                this.call('SwitchOn');
            }
            this._onChange();
            this.refreshLines();
        }, null, Gio.DBusProxyFlags.DO_NOT_AUTO_START);
    }

    _vanished() {
        if (this.proxy)
            this.proxy.disconnect(this._changed);
        this.proxy = null;
        this.lines = [];
        this._onChange();
    }

    destroy() {
        Gio.bus_unwatch_name(this._watch);
        this._watch = 0;
        this._vanished();
    }
}

function panelIcon(path, state) {
    return Gio.FileIcon.new(Gio.File.new_for_path(`${path}/icons/morvane-${state}-symbolic.svg`));
}

function textItem(text, style) {
    const item = new PopupMenu.PopupMenuItem(text, {reactive: false, can_focus: false});
    if (style)
        item.label.add_style_class_name(style);
    item.label.clutter_text.line_wrap = true;
    return item;
}

function actionItem(menu, text, action) {
    const item = new PopupMenu.PopupMenuItem(text);
    item.connect('activate', () => action());
    menu.addMenuItem(item);
    return item;
}

// What the tray item's popover offers, as a GNOME menu: the timer chips, a short pause, the timer
// lines, the verdict, and the way to the full popover, the settings and out. Answers the function
// that brings its lines up to date.
function fillMenu(menu, control) {
    menu.addMenuItem(textItem('Activar por', 'morvane-heading'));
    // Two rows of three: they fit the narrow Quick Settings menu too.
    for (let first = 0; first < CHIPS.length; first += 3) {
        const chips = new PopupMenu.PopupBaseMenuItem({reactive: false, can_focus: false});
        const row = new St.BoxLayout({style_class: 'morvane-chips', x_expand: true});
        for (const [label, seconds] of CHIPS.slice(first, first + 3)) {
            const chip = new St.Button({label, style_class: 'button morvane-chip', can_focus: true, x_expand: true});
            chip.accessible_name = `Activar por ${label}`;
            chip.connect('clicked', () => {
                menu.close();
                control.call('ActivateFor', seconds);
            });
            row.add_child(chip);
        }
        chips.add_child(row);
        menu.addMenuItem(chips);
    }
    actionItem(menu, 'Pausar 15 min', () => control.call('Pause', 900));

    const timers = new PopupMenu.PopupMenuSection();
    menu.addMenuItem(new PopupMenu.PopupSeparatorMenuItem());
    menu.addMenuItem(timers);
    const verdict = textItem('', 'morvane-verdict');
    menu.addMenuItem(verdict);

    menu.addMenuItem(new PopupMenu.PopupSeparatorMenuItem());
    actionItem(menu, 'Más opciones…', () => control.call('OpenPopover'));
    actionItem(menu, 'Preferencias…', () => control.call('OpenSettings', ''));
    actionItem(menu, 'Salir de Morvane', () => control.call('Quit'));

    let shown = '';
    return () => {
        const lines = control.lines.slice(1, -1);
        const key = JSON.stringify(lines);
        if (key !== shown) {
            shown = key;
            timers.removeAll();
            for (const line of lines)
                timers.addMenuItem(textItem(line));
            if (lines.length > 0)
                actionItem(timers, 'Cancelar temporizadores', () => control.call('CancelTimers'));
        }
        verdict.label.text = control.lines.length > 1 ? control.lines[control.lines.length - 1] : '';
        verdict.visible = verdict.label.text !== '';
    };
}

// Polls the status lines each second while `menu` is open: they hold countdowns.
function followWhileOpen(menu, control) {
    let source = 0;
    const stop = () => {
        if (source)
            GLib.source_remove(source);
        source = 0;
    };
    menu.connect('open-state-changed', (_menu, open) => {
        stop();
        if (!open)
            return;
        control.refreshLines();
        source = GLib.timeout_add_seconds(GLib.PRIORITY_DEFAULT, 1, () => {
            control.refreshLines();
            return GLib.SOURCE_CONTINUE;
        });
    });
    return stop;
}

const MorvaneIndicator = GObject.registerClass(
class MorvaneIndicator extends PanelMenu.Button {
    _init(control, path) {
        super._init(0.5, 'Morvane');
        this._control = control;
        this._path = path;
        this.accessible_name = 'Morvane';
        const box = new St.BoxLayout({style_class: 'panel-status-indicators-box'});
        this._icon = new St.Icon({style_class: 'system-status-icon', gicon: panelIcon(path, 'off')});
        this._label = new St.Label({y_align: Clutter.ActorAlign.CENTER, style_class: 'morvane-countdown'});
        box.add_child(this._icon);
        box.add_child(this._label);
        this.add_child(box);

        this._status = textItem('', 'morvane-status');
        this.menu.addMenuItem(this._status);
        this._switch = new PopupMenu.PopupSwitchMenuItem('Morvane', false);
        // GNOME 48 reports setToggleState() as a toggle too: only a change the user made switches.
        this._switch.connect('toggled', (_item, on) => {
            if (on !== control.enabled)
                control.toggle();
        });
        this.menu.addMenuItem(this._switch);
        this.menu.addMenuItem(new PopupMenu.PopupSeparatorMenuItem());
        this._updateMenu = fillMenu(this.menu, control);
        this._stopFollowing = followWhileOpen(this.menu, control);
    }

    // A right click, or a left click with Ctrl held, switches Morvane; a left click opens the menu.
    vfunc_event(event) {
        const type = event.type();
        if (type === Clutter.EventType.BUTTON_PRESS &&
            (event.get_button() === Clutter.BUTTON_SECONDARY ||
             (event.get_state() & Clutter.ModifierType.CONTROL_MASK))) {
            this.menu.close();
            this._control.toggle();
            return Clutter.EVENT_STOP;
        }
        return super.vfunc_event(event);
    }

    sync() {
        const control = this._control;
        this.visible = control.running;
        const state = control.icon;
        if (this._shownState !== state) {
            this._shownState = state;
            this._icon.gicon = panelIcon(this._path, state);
        }
        this._label.text = control.label;
        this._label.visible = control.label !== '';
        this._status.label.text = control.status;
        this._switch.setToggleState(control.enabled);
        this._updateMenu();
    }

    destroy() {
        this._stopFollowing();
        super.destroy();
    }
});

const MorvaneToggle = GObject.registerClass(
class MorvaneToggle extends QuickSettings.QuickMenuToggle {
    _init(control, path) {
        // GNOME 43 names the toggle by `label`; 44 and later by `title`, with a subtitle.
        super._init({[SHELL_MAJOR >= 44 ? 'title' : 'label']: 'Morvane', gicon: panelIcon(path, 'on'),
            toggle_mode: false});
        this._control = control;
        this._path = path;
        this.accessible_name = 'Morvane';
        this.connect('clicked', () => control.toggle());
        this._updateMenu = fillMenu(this.menu, control);
        this._stopFollowing = followWhileOpen(this.menu, control);
    }

    sync() {
        const control = this._control;
        this.checked = control.enabled;
        const status = control.running ? control.status : '';
        if (SHELL_MAJOR >= 44)
            this.subtitle = status;
        this.menu.setHeader(panelIcon(this._path, control.running ? control.icon : 'off'), 'Morvane', status);
        this.menuEnabled = control.running;
        this._updateMenu();
    }

    destroy() {
        this._stopFollowing();
        super.destroy();
    }
});

const MorvaneSystemIndicator = GObject.registerClass(
class MorvaneSystemIndicator extends QuickSettings.SystemIndicator {
    _init(control, path) {
        super._init();
        this.toggle = new MorvaneToggle(control, path);
        this.quickSettingsItems.push(this.toggle);
    }
});

// The extension's life: the indicator and the toggle exist while it is enabled; the indicator
// shows while Morvane runs.
class MorvanePanel {
    constructor(path) {
        this._path = path;
    }

    enable() {
        this._control = new Control(() => this._sync());
        this._indicator = new MorvaneIndicator(this._control, this._path);
        Main.panel.addToStatusArea('morvane', this._indicator);
        this._system = new MorvaneSystemIndicator(this._control, this._path);
        const quickSettings = Main.panel.statusArea.quickSettings;
        if (quickSettings.addExternalIndicator) {
            quickSettings.addExternalIndicator(this._system);
        } else {
            quickSettings._indicators.insert_child_at_index(this._system, 0);
            quickSettings._addItems(this._system.quickSettingsItems);
        }
        // The Quick Settings status lines count down too while that menu is open.
        this._stopFollowing = followWhileOpen(quickSettings.menu, this._control);
        this._name = Gio.bus_own_name(Gio.BusType.SESSION, PANEL_NAME, Gio.BusNameOwnerFlags.NONE,
            null, null, null);
        this._sync();
    }

    _sync() {
        this._indicator?.sync();
        this._system?.toggle.sync();
    }

    disable() {
        Gio.bus_unown_name(this._name);
        this._stopFollowing();
        this._control.destroy();
        this._system.quickSettingsItems.forEach(item => item.destroy());
        this._system.destroy();
        this._indicator.destroy();
        this._control = this._indicator = this._system = null;
    }
}
