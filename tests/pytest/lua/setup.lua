-- A new session with one stereo track holding a region of the input's length.
-- Arguments: SESSION_DIR RATE FRAMES.
-- Ardour 7's Lua session tool has no file import, so the track gets a bounced (silent) region of
-- the input's length; the caller then replaces its two per-channel source files (what an import
-- would write into interchange/) with the input's channels before the session is loaded again.
local dir, rate, frames = arg[1], tonumber(arg[2]), tonumber(arg[3])
assert(create_session(dir, "check", rate), "create_session failed")
local track = Session:new_audio_track(2, 2, nil, 1, "Input", ARDOUR.PresentationInfo.max_order,
                                      ARDOUR.TrackMode.Normal, true):front()
local region = track:bounce_range(0, frames, ARDOUR.InterThreadInfo(), track:main_outs(), false,
                                  "input")
assert(not region:isnil(), "bounce of the empty track failed")
local audio = region:to_audioregion()
assert(audio:n_channels() == 2, "expected a stereo region")
for c = 0, 1 do print("SOURCE", c, region:source(c):to_filesource():path()) end
track:playlist():add_region(region, Temporal.timepos_t(0), 1, false, 0, 0, false)
assert(Session:save_state("", false, false, false, false, false) == 0, "save_state failed")
print("SETUP-OK")
