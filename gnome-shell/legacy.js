// GNOME Shell 43 and 44 load extensions as scripts.
/* exported init */
const {Clutter, Gio, GLib, GObject, St} = imports.gi;
const Main = imports.ui.main;
const PanelMenu = imports.ui.panelMenu;
const PopupMenu = imports.ui.popupMenu;
const QuickSettings = imports.ui.quickSettings;
const Me = imports.misc.extensionUtils.getCurrentExtension();
const SHELL_MAJOR = parseInt(imports.misc.config.PACKAGE_VERSION);

// @BODY@

function init() {
    return new MorvanePanel(Me.path);
}
