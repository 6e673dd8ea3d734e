-- An Ardour 7 session run headless by ardour7-lua on the dummy backend:
-- records three seconds of the backend's pink noise on a stereo track, and
-- exports the session twice as 32-bit float: as it is (dry.wav), and with
-- an LV2 plug-in first on the track (wet.wav).
-- Prints the latency Ardour reads from the plug-in.
--
-- Environment: KESTA_SESSION (a folder to create), KESTA_EXPORT (a folder),
-- KESTA_URI, KESTA_SPREAD (the plug-in's first control), KESTA_PRESET (the
-- id of an export preset in ~/.config/ardour7/export/).

-- Ardour 7.3 has aborted while collecting a SimpleExport: nothing is
-- collected, and the session is not closed at the end (its folder is thrown
-- away).
collectgarbage("stop")

local function say(...) io.stderr:write(table.concat({...}, " "), "\n") end

local backend = AudioEngine:set_backend("None (Dummy)", "", "")
assert(backend, "no dummy backend")
backend:set_device_name("Pink Noise")
assert(create_session(os.getenv("KESTA_SESSION"), "kesta", 48000), "no session")

local tracks = Session:new_audio_track(2, 2, nil, 1, "noise", ARDOUR.PresentationInfo.max_order,
                                       ARDOUR.TrackMode.Normal, true)
local track = tracks:front()
local capture = C.StringVector()
AudioEngine:get_physical_inputs(ARDOUR.DataType("audio"), capture, 0, 0)
track:input():disconnect_all(nil)
for c = 0, 1 do track:input():audio(c):connect(capture:at(c)) end

local none = PBD.GroupControlDisposition.NoGroup
track:rec_enable_control():set_value(1, none)
Session:maybe_enable_record(false)
Session:request_roll(ARDOUR.TransportRequestSource.TRS_UI)
ARDOUR.LuaAPI.usleep(3000000)
Session:request_stop(false, false, ARDOUR.TransportRequestSource.TRS_UI)
ARDOUR.LuaAPI.usleep(1000000)
-- From here on the track plays its recording only.
track:rec_enable_control():set_value(0, none)
track:input():disconnect_all(nil)
track:monitoring_control():set_value(ARDOUR.MonitorChoice.MonitorDisk, none)
assert(track:playlist():region_list():size() == 1, "nothing recorded")

local function export(name)
    local e = Session:simple_export()
    assert(e:set_preset(os.getenv("KESTA_PRESET")), "no export preset")
    e:set_folder(os.getenv("KESTA_EXPORT"))
    e:set_name(name)
    assert(e:run_export(), "the export failed")
end
export("dry")
local plugin = ARDOUR.LuaAPI.new_plugin(Session, os.getenv("KESTA_URI"), ARDOUR.PluginType.LV2, "")
assert(not plugin:isnil(), "the plug-in is not found")
track:add_processor_by_index(plugin, 0, nil, true)
ARDOUR.LuaAPI.set_processor_param(plugin, 0, tonumber(os.getenv("KESTA_SPREAD")))
ARDOUR.LuaAPI.usleep(500000)
say("latency", plugin:signal_latency())

export("wet")
say("exported")
os.exit(0)
