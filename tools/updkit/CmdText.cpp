// updkit markup / layout: the paragraph model and the laid-out fragments of a
// markup text (a file of code page 1250 bytes), so that texts can be checked and layouts
// compared outside a window.
#include <cstdio>
#include <map>
#include <string>

#include "base/Cp1250.h"
#include "base/Exception.h"
#include "base/File.h"
#include "text/QvtParagrafCore.h"
#include "tools/updkit/Commands.h"
#include "tools/updkit/Json.h"

namespace updkit {

namespace {

using namespace upd::text;

std::string ReadText(const std::string& name)
{
    auto bytes = upd::ReadWholeFile(name);
    return upd::Cp1250ToUtf8(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

int PrintJson(const TJsonWriter& json, int status)
{
    const std::string text = json.Text();
    std::fwrite(text.data(), 1, text.size(), stdout);
    return status;
}

int PrintError(const upd::Exception& e)
{
    TJsonWriter json;
    json.BeginObject().Key("error").String(e.Message()).EndObject();
    return PrintJson(json, 1);
}

/// The control without a window: fixed metrics, a given width, and the
/// height that AutoHeight would give it.
class TConsoleParagraf : public TQvtParagrafCore {
public:
    explicit TConsoleParagraf(std::int32_t width) : m_width(width) {}
    std::int32_t Height = 0;

protected:
    bool HasSurface() const override { return true; }
    std::int32_t ControlWidth() const override { return m_width; }
    TQvtTextMeasurer& Measurer() override { return m_measurer; }
    void ApplyHeight(std::int32_t height) override { Height = height; }

private:
    std::int32_t m_width;
    TQvtFixedMeasurer m_measurer;
};

bool ParseWidth(const std::string& text, std::int32_t& width)
{
    if (text.empty() || text.size() > 9)
        return false;
    width = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        width = width * 10 + (c - '0');
    }
    return true;
}

} // namespace

int CmdMarkup(const TArgs& args)
{
    if (args.size() != 1)
        return Usage("markup FILE");
    std::string text = ReadText(args[0]);
    std::unique_ptr<TQvtPageListaParagrafe> list;
    try {
        list = ParseParagrafe(text);
    } catch (const upd::Exception& e) {
        return PrintError(e);
    }
    TJsonWriter json;
    json.BeginObject().Key("paragraphs").BeginArray();
    for (const auto& para : list->Items) {
        json.BeginObject().Key("kind").Int(para->Kind).Key("indent").Int(para->IndentLevel);
        json.Key("runs").BeginArray();
        for (const auto& run : para->WordLists) {
            json.BeginObject().Key("flags").Int(run->Flags).Key("link_id").Int(run->LinkId);
            json.Key("link_group").Int(run->LinkGroup).Key("words").BeginArray();
            for (const auto& w : run->Words)
                json.String(w);
            json.EndArray().EndObject();
        }
        json.EndArray().EndObject();
    }
    json.EndArray().EndObject();
    return PrintJson(json, 0);
}

int CmdLayout(const TArgs& args)
{
    const char* usage = "layout FILE --width W";
    std::string file;
    std::int32_t width = -1;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--width" && i + 1 < args.size()) {
            if (!ParseWidth(args[++i], width))
                return Usage(usage);
        } else if (file.empty() && args[i].rfind("--", 0) != 0) {
            file = args[i];
        } else {
            return Usage(usage);
        }
    }
    if (file.empty() || width < 0)
        return Usage(usage);

    std::string text = ReadText(file);
    TConsoleParagraf control(width);
    control.SetAutoHeight(true);
    try {
        control.SetText(text);
    } catch (const upd::Exception& e) {
        return PrintError(e);
    }

    // Fragments in painting order (section, band, position), numbered for prev/next.
    std::vector<const TQvtCuvantEcran*> order;
    std::map<const TQvtCuvantEcran*, std::int64_t> index;
    struct TPlace {
        int Kind;
        int Flags;
        int Band;
    };
    std::vector<TPlace> places;
    for (const auto& section : control.Layout()->Sections) {
        int band = 0;
        for (const auto& b : section->Bands) {
            for (const TQvtCuvantEcran* f : b->Items()) {
                index[f] = static_cast<std::int64_t>(order.size());
                order.push_back(f);
                places.push_back({section->Kind, section->Flags, band});
            }
            ++band;
        }
    }

    TJsonWriter json;
    json.BeginObject().Key("width").Int(width).Key("height").Int(control.Height);
    json.Key("fragments").BeginArray();
    for (std::size_t i = 0; i < order.size(); ++i) {
        const TQvtCuvantEcran& f = *order[i];
        json.BeginObject().Key("text").String(f.Text);
        json.Key("left").Int(f.Bounds.Left).Key("top").Int(f.Bounds.Top);
        json.Key("right").Int(f.Bounds.Right).Key("bottom").Int(f.Bounds.Bottom);
        json.Key("link_id").Int(f.LinkId);
        json.Key("prev");
        f.Prev ? json.Int(index[f.Prev]) : json.Null();
        json.Key("next");
        f.Next ? json.Int(index[f.Next]) : json.Null();
        json.Key("kind").Int(places[i].Kind).Key("flags").Int(places[i].Flags).Key("band").Int(places[i].Band);
        json.EndObject();
    }
    json.EndArray().EndObject();
    return PrintJson(json, 0);
}

} // namespace updkit
