// The ids of the viewer's controls and commands, which its tests use to
// give a command as its menu does.
#pragma once

// Controls and commands; a button, its menu item and its key share an id.
enum ControlId {
    id_list = 100,
    id_include,
    id_exclude,
    id_find,
    id_find_previous,
    id_find_next,
    id_pause,
    id_on_top,
    id_status,
    id_copy,
    id_select_all,
    id_clear,
    id_save,
    id_find_box,
    id_exit,
    id_open,
    id_copy_run,
    id_elapsed,
    id_detail,
    id_hint,
    id_capture,
    id_font,
    id_highlights,
    id_help,
    id_about,
};
