#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// What the GUI drivers see of a product.
class ProductConfig {
public:
    virtual ~ProductConfig() = default;
    virtual std::wstring GetId() const = 0;
    virtual std::wstring GetDisplayName() const = 0;
    virtual bool IsDetected() const = 0;
    virtual bool IsSelected() const = 0;
    virtual void SetSelected(bool selected) = 0;
    virtual int32_t GetPriority() const = 0;
};

using ProductList = std::vector<std::shared_ptr<ProductConfig>>;

// Fixed product of the test pages; never removed.
class TestProductConfig : public ProductConfig {
public:
    TestProductConfig(std::wstring id, std::wstring displayName, bool detected, bool selected)
        : m_id(std::move(id)), m_displayName(std::move(displayName)), m_detected(detected), m_selected(selected)
    {
    }
    std::wstring GetId() const override { return m_id; }
    std::wstring GetDisplayName() const override { return m_displayName; }
    bool IsDetected() const override { return m_detected; }
    bool IsSelected() const override { return m_selected; }
    void SetSelected(bool selected) override { m_selected = selected; }
    int32_t GetPriority() const override { return 50; }

private:
    std::wstring m_id;
    std::wstring m_displayName;
    bool m_detected;
    bool m_selected;
};
