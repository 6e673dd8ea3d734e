// Writes the Turtle descriptions of the bundle kesta.lv2, manifest.ttl and
// kesta.ttl, from the parameter table and the shared port layouts: run by
// the build as
//   kesta_ttl BUNDLE_FOLDER URI_BASE BINARY_NAME
// Port indices follow the layouts (hosts/common/PortAdapter.h): audio inputs,
// left and right outputs, controls, latency.
//
// The on/off controls are described as two-valued integer choices rather than
// lv2:toggled: GStreamer makes every toggled port a property whose default is
// false, whatever lv2:default says, and would switch the effect off.
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "PortAdapter.h"

namespace {

using kesta::ParameterInfo;
using kesta::plugin_ports::Layout;

struct Plugin {
    const char* id;  // appended to the URI base
    const Layout& layout;
    const char* name;
    const char* comment;
};

const Plugin kPlugins[] = {
    {"stereo", kesta::plugin_ports::kStereoLayout, "Kesta 3D Sound (stereo)",
     "Widens stereo; stereo whose two channels are equal gets the mono-to-3D treatment."},
    {"mono", kesta::plugin_ports::kMonoLayout, "Kesta 3D Sound (mono to stereo)",
     "Turns a mono track into 3D stereo."},
};

std::string Number(const ParameterInfo& c, float v) {
    char text[32];
    if (c.kind != ParameterInfo::kDecibels)
        std::snprintf(text, sizeof text, "%d", static_cast<int>(v));
    else if (v == std::floor(v))
        std::snprintf(text, sizeof text, "%.1f", static_cast<double>(v));
    else
        std::snprintf(text, sizeof text, "%g", static_cast<double>(v));
    return text;
}

void AudioPort(std::ostream& o, const std::string& uri, int index, bool input, const char* symbol,
               const char* name, const char* designation) {
    o << "\t\ta lv2:AudioPort , " << (input ? "lv2:InputPort" : "lv2:OutputPort") << " ;\n"
      << "\t\tlv2:index " << index << " ;\n"
      << "\t\tlv2:symbol \"" << symbol << "\" ;\n"
      << "\t\tlv2:name \"" << name << "\" ;\n"
      << "\t\tpg:group <" << uri << (input ? "#in" : "#out") << "> ;\n"
      << "\t\tlv2:designation pg:" << designation << "\n";
}

void ControlPort(std::ostream& o, int index, const ParameterInfo& c) {
    o << "\t\ta lv2:ControlPort , lv2:InputPort ;\n"
      << "\t\tlv2:index " << index << " ;\n"
      << "\t\tlv2:symbol \"" << c.symbol << "\" ;\n"
      << "\t\tlv2:name \"" << c.name << "\" ;\n";
    if (c.comment) o << "\t\trdfs:comment \"" << c.comment << "\" ;\n";
    o << "\t\tlv2:default " << Number(c, c.fallback) << " ;\n"
      << "\t\tlv2:minimum " << Number(c, c.minimum) << " ;\n"
      << "\t\tlv2:maximum " << Number(c, c.maximum);
    if (c.kind == ParameterInfo::kDecibels) {
        o << " ;\n\t\tunits:unit units:db\n";
        return;
    }
    o << " ;\n\t\tlv2:portProperty lv2:integer , lv2:enumeration ;\n\t\tlv2:scalePoint [\n";
    for (int v = 0; v < 2; ++v) {
        o << "\t\t\trdfs:label \"" << c.labels[v] << "\" ;\n\t\t\trdf:value " << v << "\n"
          << (v == 0 ? "\t\t] , [\n" : "\t\t]\n");
    }
}

void Describe(std::ostream& o, const std::string& base, const Plugin& p) {
    const std::string uri = base + p.id;
    const bool stereo = p.layout.inputs == 2;
    o << "<" << uri << "#in>\n\ta " << (stereo ? "pg:StereoGroup" : "pg:MonoGroup")
      << " , pg:InputGroup ;\n\tlv2:name \"Input\" ;\n\tlv2:symbol \"in\" .\n\n";
    o << "<" << uri << "#out>\n\ta pg:StereoGroup , pg:OutputGroup ;\n\tlv2:name \"Output\" ;\n"
      << "\tlv2:symbol \"out\" ;\n\tpg:source <" << uri << "#in> .\n\n";
    o << "<" << uri << ">\n\ta lv2:Plugin , lv2:SpatialPlugin ;\n\tdoap:name \"" << p.name << "\" ;\n"
      << "\tlv2:project <" << base << "#project> ;\n\trdfs:comment \"" << p.comment << "\" ;\n"
      << "\tlv2:minorVersion 0 ;\n\tlv2:microVersion 1 ;\n\tlv2:optionalFeature lv2:hardRTCapable ;\n"
      << "\tpg:mainInput <" << uri << "#in> ;\n\tpg:mainOutput <" << uri << "#out> ;\n\tlv2:port [\n";
    int index = 0;
    if (stereo) {
        AudioPort(o, uri, index++, true, "in_l", "In L", "left");
        o << "\t] , [\n";
        AudioPort(o, uri, index++, true, "in_r", "In R", "right");
    } else {
        AudioPort(o, uri, index++, true, "in", "In", "center");
    }
    o << "\t] , [\n";
    AudioPort(o, uri, index++, false, "out_l", "Out L", "left");
    o << "\t] , [\n";
    AudioPort(o, uri, index++, false, "out_r", "Out R", "right");
    for (int i = 0; i < p.layout.controlCount; ++i) {
        o << "\t] , [\n";
        ControlPort(o, index++, kesta::InfoOf(p.layout.controls[i]));
    }
    o << "\t] , [\n\t\ta lv2:ControlPort , lv2:OutputPort ;\n\t\tlv2:index " << index << " ;\n"
      << "\t\tlv2:symbol \"latency\" ;\n\t\tlv2:name \"Latency\" ;\n\t\tlv2:designation lv2:latency ;\n"
      << "\t\tlv2:portProperty lv2:integer , lv2:reportsLatency ;\n\t\tunits:unit units:frame\n\t] .\n";
}

// Writes text to path, through a temporary file, so that a failed run leaves
// no half-written description for the build to take as done.
bool Write(const std::string& path, const std::string& text) {
    const std::string temporary = path + ".new";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << text;
        if (!out.flush()) return false;
    }
    return std::rename(temporary.c_str(), path.c_str()) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: kesta_ttl BUNDLE_FOLDER URI_BASE BINARY_NAME\n");
        return 2;
    }
    const std::string folder = argv[1], base = argv[2], binary = argv[3];

    std::ostringstream manifest;
    manifest << "@prefix lv2:  <http://lv2plug.in/ns/lv2core#> .\n"
             << "@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .\n";
    for (const Plugin& p : kPlugins)
        manifest << "\n<" << base << p.id << ">\n\ta lv2:Plugin ;\n\tlv2:binary <" << binary << "> ;\n"
                 << "\trdfs:seeAlso <kesta.ttl> .\n";

    std::ostringstream ttl;
    ttl << "# The two plug-ins of kesta.lv2, written by the build from the parameter\n"
        << "# table (core/Parameters.h) and the shared port layouts.\n"
        << "@prefix doap:  <http://usefulinc.com/ns/doap#> .\n"
        << "@prefix foaf:  <http://xmlns.com/foaf/0.1/> .\n"
        << "@prefix lv2:   <http://lv2plug.in/ns/lv2core#> .\n"
        << "@prefix pg:    <http://lv2plug.in/ns/ext/port-groups#> .\n"
        << "@prefix rdf:   <http://www.w3.org/1999/02/22-rdf-syntax-ns#> .\n"
        << "@prefix rdfs:  <http://www.w3.org/2000/01/rdf-schema#> .\n"
        << "@prefix units: <http://lv2plug.in/ns/extensions/units#> .\n\n"
        << "<" << base << "#project>\n\ta doap:Project ;\n\tdoap:name \"Kesta\" ;\n"
        << "\tdoap:shortdesc \"3D sound from Orvane\" ;\n\tdoap:maintainer [\n\t\ta foaf:Organization ;\n"
        << "\t\tfoaf:name \"Orvane\"\n\t] .\n";
    for (const Plugin& p : kPlugins) {
        ttl << "\n";
        Describe(ttl, base, p);
    }

    if (!Write(folder + "/manifest.ttl", manifest.str()) || !Write(folder + "/kesta.ttl", ttl.str())) {
        std::fprintf(stderr, "kesta_ttl: cannot write into %s\n", folder.c_str());
        return 1;
    }
    return 0;
}
