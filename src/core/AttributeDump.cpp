// DescribeAttributes: one box per attribute set of a graphic object.
#include "core/ErrorTrap.h"
#include "core/TextFormat.h"
#include "core/VariantText.h"
#include "vx380/ErrorLog.h"

namespace vx380 {

namespace {
constexpr Long kNameId = 2;
constexpr Long kValueId = 0;

Object Required(const Variant& element) {
  Object object = core::VariantToObject(element);
  if (!object) RaiseRuntime(rt::kObjectNotSet);
  return object;
}
}  // namespace

void ErrorLog::DescribeAttributes(const Object& objGraphic) {
  if (!objGraphic) return;
  const Object sets = core::VariantToObject(objGraphic->GetProperty(u"AttributeSets"));
  if (!sets) return;

  auto setEnum = sets->NewEnum();
  Variant element;
  while (setEnum->Next(element)) {
    const Object set = Required(element);
    String text = core::kCrLf + u"Attribute Set Name :" + core::VariantToString(set->GetPropertyById(kNameId));
    auto attributeEnum = set->NewEnum();
    Variant item;
    while (attributeEnum->Next(item)) {
      const Object attribute = Required(item);
      text += core::kCrLf + u"\tAttribute Name :" + core::VariantToString(attribute->GetPropertyById(kNameId)) +
              u" Value : " + core::ConcatText(attribute->GetPropertyById(kValueId));
    }
    core::UntitledBox(text, box::kOkOnly);
  }
}

}  // namespace vx380
