// The ui:requestValue feature as a plugin UI calls it, on eg-params: which
// requests it refuses, and the "Choose file" dialog, answered as a user
// would, sending the chosen path to the plugin.

#include "dialog_driver.hpp"
#include "gtk/request_value.hpp"
#include "harness/files.hpp"
#include "harness/host_rig.hpp"
#include "harness/ring_messages.hpp"
#include "state/control.hpp"

#include <fstream>
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <string>

namespace {

const std::string params = "http://lv2plug.in/plugins/eg-params#";

class RequestValue : public testing::Test {
protected:
  static void SetUpTestSuite() { ASSERT_TRUE(gtk_init_check(nullptr, nullptr)); }

  void SetUp() override {
    ASSERT_EQ(rig.open_manual("http://lv2plug.in/plugins/eg-params"), 0);
    install_request_value(&rig.host);
    rig.discard_ui_messages();
  }

  LV2UI_Request_Value_Status request(const std::string& key) {
    const LV2UI_Request_Value& feature = rig.host.features.request_value;
    return feature.request(feature.handle, rig.map(key.c_str()), 0, nullptr);
  }

  HostRig rig;
};

TEST_F(RequestValue, RefusesWhatItCannotChooseWithoutAsking) {
  EXPECT_EQ(request("urn:bexo:test:no-such-parameter"), LV2UI_REQUEST_VALUE_ERR_UNKNOWN);
  EXPECT_EQ(request(params + "int"), LV2UI_REQUEST_VALUE_ERR_UNSUPPORTED);
  rig.host.ui_updating = true;
  EXPECT_EQ(request(params + "path"), LV2UI_REQUEST_VALUE_BUSY);
  rig.host.ui_updating = false;
  EXPECT_TRUE(read_ring_messages(rig.host.process.ui_ring).empty());
}

TEST_F(RequestValue, AChosenFileIsSentToThePluginAndACancelSendsNothing) {
  const TempDir dir;
  const std::string chosen = dir.file("sample.wav");
  std::ofstream(chosen) << "RIFF";
  for (const bool choose : {false, true}) {
    const DialogDriver driver("Choose file", [&](GtkDialog* dialog) {
      if (!choose) {
        gtk_dialog_response(dialog, GTK_RESPONSE_CANCEL);
        return true;
      }
      // The chooser reads the folder asynchronously; answer once it has
      // taken the file.
      gtk_file_chooser_select_filename(GTK_FILE_CHOOSER(dialog), chosen.c_str());
      gchar* file = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(dialog));
      const bool ready = file && chosen == file;
      g_free(file);
      if (ready) {
        gtk_dialog_response(dialog, GTK_RESPONSE_OK);
      }
      return ready;
    });
    EXPECT_EQ(request(params + "path"), LV2UI_REQUEST_VALUE_SUCCESS);
    EXPECT_TRUE(driver.acted());
    const std::vector<RingMessage> sent = read_ring_messages(rig.host.process.ui_ring);
    EXPECT_EQ(sent.size(), choose ? 1u : 0u);
  }
  Control* path = rig.property((params + "path").c_str());
  ASSERT_NE(path, nullptr);
  EXPECT_EQ(path->value.type, rig.host.forge.Path);
  EXPECT_EQ(static_cast<const char*>(control_value_body(&path->value)), chosen);
}

} // namespace
