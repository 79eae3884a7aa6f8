-- The plug-in on the session's track, one bounce per factory program.
-- Arguments: SESSION_DIR FRAMES TEMPO|- PLUGIN_NAME PLUGIN_TYPE PRESET_PATTERN PROGRAM...
-- PLUGIN_TYPE names an ARDOUR.PluginType (LXVST, LV2, VST3); PRESET_PATTERN is a Lua pattern
-- whose capture is the factory program number in the preset's URI, or "uri=" and a format of
-- the URI itself (the plug-in's unique id, the program number).
--
-- Around a bounce Ardour switches the plug-in off and on (for the new block size), which clears
-- its delay lines, and then runs the range on the calling thread in blocks of 8192 frames;
-- quillantrope-render uses 512. The engine works frame by frame, so neither the blocks nor the
-- silence the plug-in processed in Ardour's audio thread before should show.
local dir, frames, tempo = arg[1], tonumber(arg[2]), tonumber(arg[3])
local name, type_name, preset_pattern = arg[4], arg[5], arg[6]
local plugin_type = ARDOUR.PluginType[type_name]
assert(plugin_type, "no plug-in type " .. type_name)
assert(load_session(dir, "check"), "load_session failed")
local track = Session:route_by_name("Input"):to_track()
assert(not track:isnil(), "track not found")
if tempo then
  local map = Temporal.TempoMap.write_copy()
  map:set_tempo(Temporal.Tempo(tempo, tempo, 4), Temporal.timepos_t(0))
  Temporal.TempoMap.update(map)
end
local t = Temporal.TempoMap.read():tempo_at(Temporal.timepos_t(0))
print("TEMPO", t:note_types_per_minute(), t:note_type())
print("RATE", Session:nominal_sample_rate(), "BLOCK", Session:get_block_size())
local info = ARDOUR.LuaAPI.new_plugin_info(name, plugin_type)
assert(not info:isnil(), "Ardour does not list " .. name .. " (" .. type_name .. ")")
for i = 7, #arg do
  local program = tonumber(arg[i])
  -- A fresh instance per program, as the reference render starts from one.
  local proc = ARDOUR.LuaAPI.new_plugin(Session, name, plugin_type, "")
  assert(not proc:isnil(), "cannot instantiate " .. name)
  assert(track:add_processor_by_index(proc, 0, nil, true) == 0, "cannot insert the plug-in")
  local plugin = proc:to_insert():plugin(0)
  local preset
  if preset_pattern:sub(1, 4) == "uri=" then
    -- Ardour lists no VST3 presets by the plug-in's info: the URI is made from its template
    -- (%s the plug-in's unique id, then the program number).
    preset = plugin:preset_by_uri(string.format(preset_pattern:sub(5), info.unique_id, program))
    if preset and not preset.valid then preset = nil end
  else
    for p in info:get_presets(false):iter() do
      if not p.user and tonumber(p.uri:match(preset_pattern)) == program then preset = p end
    end
  end
  assert(preset, "no preset for program " .. program)
  assert(plugin:load_preset(preset), "load_preset failed for program " .. program)
  print("PROGRAM", program, "LATENCY", proc:signal_latency(), "PRESET", plugin:last_preset().label)
  local out = track:bounce_range(0, frames, ARDOUR.InterThreadInfo(), track:main_outs(), false,
                                 "program" .. program)
  assert(not out:isnil(), "bounce failed for program " .. program)
  for c = 0, out:to_audioregion():n_channels() - 1 do
    print("OUTPUT", program, c, out:source(c):to_filesource():path())
  end
  track:remove_processor(proc, nil, true)
end
print("BOUNCE-OK")
