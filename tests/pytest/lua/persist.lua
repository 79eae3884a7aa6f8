-- A session's plug-in state across processes. Arguments: SESSION_DIR FRAMES TEMPO|- MODE ...
--   save PLUGIN_NAME PLUGIN_TYPE PRESET_PATTERN PROGRAM: a fresh instance on the track with the
--        program's preset, its first control input moved off the preset's value, one bounce,
--        then the session saved;
--   load: the saved session in a new process, the same bounce with the instance it restored.
-- Both print the bounce's files and then the plug-in's control input values.
local dir, frames, tempo, mode = arg[1], tonumber(arg[2]), tonumber(arg[3]), arg[4]
assert(load_session(dir, "check"), "load_session failed")
if tempo and mode == "save" then -- saved with the session
  local map = Temporal.TempoMap.write_copy()
  map:set_tempo(Temporal.Tempo(tempo, tempo, 4), Temporal.timepos_t(0))
  Temporal.TempoMap.update(map)
end
local track = Session:route_by_name("Input"):to_track()
assert(not track:isnil(), "track not found")
local proc
if mode == "save" then
  local name, plugin_type, pattern, program = arg[5], ARDOUR.PluginType[arg[6]], arg[7],
                                              tonumber(arg[8])
  local info = ARDOUR.LuaAPI.new_plugin_info(name, plugin_type)
  assert(not info:isnil(), "Ardour does not list " .. name)
  proc = ARDOUR.LuaAPI.new_plugin(Session, name, plugin_type, "")
  assert(not proc:isnil(), "cannot instantiate " .. name)
  assert(track:add_processor_by_index(proc, 0, nil, true) == 0, "cannot insert the plug-in")
  local plugin = proc:to_insert():plugin(0)
  local preset
  if pattern:sub(1, 4) == "uri=" then
    -- As in bounce.lua: VST3 presets are found by their URI, not through the info.
    preset = plugin:preset_by_uri(string.format(pattern:sub(5), info.unique_id, program))
    if preset and not preset.valid then preset = nil end
  else
    for p in info:get_presets(false):iter() do
      if not p.user and tonumber(p.uri:match(pattern)) == program then preset = p end
    end
  end
  assert(preset, "no preset for program " .. program)
  assert(plugin:load_preset(preset), "load_preset failed")
  assert(ARDOUR.LuaAPI.set_processor_param(proc, 0, 0.5), "cannot set the first control")
else
  proc = track:nth_plugin(0)
  assert(not proc:isnil(), "the reloaded session has no plug-in on the track")
end
local out = track:bounce_range(0, frames, ARDOUR.InterThreadInfo(), track:main_outs(), false,
                               "persist-" .. mode)
assert(not out:isnil(), "bounce failed")
for c = 0, out:to_audioregion():n_channels() - 1 do
  print("OUTPUT", c, out:source(c):to_filesource():path())
end
-- Control ports in order (the plug-in has no control outputs).
local insert = proc:to_insert()
for i = 0, insert:plugin(0):parameter_count() - 1 do
  local value, refs = ARDOUR.LuaAPI.get_plugin_insert_param(insert, i, false)
  if not refs[3] then break end
  print("VALUE", i, string.format("%.9g", value))
end
if mode == "save" then
  assert(Session:save_state("", false, false, false, false, false) == 0, "save_state failed")
end
print("PERSIST-OK")
